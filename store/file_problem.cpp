#include "store/file_problem.h"

#include <new>
#include <stdexcept>

#include "fs/file.h"
#include "fs/utf8_path.h"
#include "pst/ndb/errors.h"

namespace store {
namespace {

using Kind = fs::FileError::Kind;
using Cause = pst::ndb::NdbError::Cause;

FileProblem FromFileKind(Kind kind, FileStep step) {
    const bool existed = step != FileStep::kCreating;
    switch (kind) {
        case Kind::NotFound:
            return FileProblem::kNoFolder;
        case Kind::AccessDenied:
            return existed ? FileProblem::kReadOnlyFile : FileProblem::kFolderNotWritable;
        case Kind::ReadOnly:
            return existed ? FileProblem::kReadOnlyFile : FileProblem::kReadOnlyDrive;
        case Kind::Folder:
            return FileProblem::kIsFolder;
        case Kind::NotRegularFile:
            return FileProblem::kNotRegularFile;
        case Kind::Locked:
            return FileProblem::kLocked;
        case Kind::DiskFull:
            return FileProblem::kDiskFull;
        case Kind::PathTooLong:
            return FileProblem::kPathTooLong;
        case Kind::BadName:
            return FileProblem::kBadName;
        case Kind::Unsupported:
        case Kind::Other:
            break;
    }
    return FileProblem::kUnknown;
}

// The folder that holds (or would hold) the file at `path`.
std::string FolderOf(const std::string& path) {
    const auto parent = fs::PathFromUtf8(path).parent_path();
    return parent.empty() ? "the current folder" : fs::Utf8FromPath(parent);
}

// The technical text without the file's path in front, when it starts with it.
std::string WithoutPath(const std::string& detail, const std::string& path) {
    if (path.empty() || detail.rfind(path, 0) != 0) return detail;
    std::string rest = detail.substr(path.size());
    if (rest.rfind(": ", 0) == 0) rest.erase(0, 2);
    return rest.empty() ? detail : rest;
}

}  // namespace

FileProblem ProblemOf(const std::exception& e, FileStep step) {
    if (dynamic_cast<const std::bad_alloc*>(&e)) return FileProblem::kOutOfMemory;
    if (auto* file = dynamic_cast<const fs::FileError*>(&e))
        return FromFileKind(file->GetKind(), step);
    if (auto* ndb = dynamic_cast<const pst::ndb::NdbError*>(&e)) {
        switch (ndb->GetCause()) {
            case Cause::File:
                return FromFileKind(ndb->FileKind(), step);
            case Cause::InUse:
                return FileProblem::kLocked;
            case Cause::ReadOnly:
                return step == FileStep::kCreating && ndb->FileKind() == Kind::ReadOnly
                           ? FileProblem::kReadOnlyDrive
                           : FileProblem::kReadOnlyFile;
            case Cause::NotPst:
                return FileProblem::kNotPst;
            case Cause::Ansi:
                return FileProblem::kAnsi;
            case Cause::Unsupported:
                return FileProblem::kUnsupportedPst;
            case Cause::Damaged:
                return FileProblem::kDamaged;
            case Cause::Other:
                return FileProblem::kUnknown;
        }
    }
    // Opening only reads the file's structures (and repairs its allocation maps): a store that
    // cannot be read back from a sound node database is damaged higher up.
    if (step == FileStep::kOpening && dynamic_cast<const std::runtime_error*>(&e))
        return FileProblem::kDamaged;
    return FileProblem::kUnknown;
}

std::string DescribeProblem(FileProblem problem, const std::string& path,
                            const std::string& detail) {
    std::string sentence;
    switch (problem) {
        case FileProblem::kUnknown:
            return detail;
        case FileProblem::kDamaged:
            // The technical text is what is damaged.
            return "The data file " + path + " is damaged: " + WithoutPath(detail, path) + ".";
        case FileProblem::kNoFolder:
            sentence = "The folder " + FolderOf(path) + " does not exist.";
            break;
        case FileProblem::kFolderNotWritable:
            sentence = "The data file cannot be created in the folder " + FolderOf(path) +
                       ": you have no permission to write there.";
            break;
        case FileProblem::kReadOnlyDrive:
            sentence = "The data file cannot be created in the folder " + FolderOf(path) +
                       ": the drive is read-only.";
            break;
        case FileProblem::kReadOnlyFile:
            sentence =
                "The data file " + path + " is read-only, or you have no permission to write it.";
            break;
        case FileProblem::kLocked:
            sentence = "The data file " + path +
                       " is locked by another program (or by another run of this one).";
            break;
        case FileProblem::kDiskFull:
            sentence = "The disk is full: there is no room left to write " + path + ".";
            break;
        case FileProblem::kPathTooLong:
            sentence = "The path " + path + " is too long for the file system.";
            break;
        case FileProblem::kBadName:
            sentence = "The name " + path + " holds characters the file system does not allow.";
            break;
        case FileProblem::kIsFolder:
            sentence = path + " is a folder, not a data file.";
            break;
        case FileProblem::kNotRegularFile:
            sentence = path + " is not a regular file.";
            break;
        case FileProblem::kNotPst:
            sentence = path + " is not an Outlook data file.";
            break;
        case FileProblem::kAnsi:
            sentence = path +
                       " is an ANSI-format Outlook data file (the old format, limited to 2 GB); "
                       "messages can only be added to a Unicode data file.";
            break;
        case FileProblem::kUnsupportedPst:
            sentence = path + " is a kind of Outlook data file this program cannot add to.";
            break;
        case FileProblem::kOutOfMemory:
            sentence = "There is not enough memory.";
            break;
    }
    return sentence + " (" + detail + ")";
}

std::string DescribeFailure(const std::exception& e, const std::string& path, FileStep step) {
    return DescribeProblem(ProblemOf(e, step), path, e.what());
}

}  // namespace store
