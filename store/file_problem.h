#pragma once

#include <exception>
#include <string>

namespace store {

// What a failed call on the data file comes down to, in terms the user can act on.
enum class FileProblem {
    kUnknown,            // nothing to name: the technical text stands alone
    kNoFolder,           // the folder meant to hold the file does not exist
    kFolderNotWritable,  // no permission to make a file in that folder
    kReadOnlyDrive,      // the folder is on a read-only drive
    kReadOnlyFile,       // the file exists and may not be written
    kLocked,             // another program, or another run of this one, holds the file
    kDiskFull,
    kPathTooLong,
    kBadName,         // the file system refuses a character of the name
    kIsFolder,        // the path names a folder
    kNotRegularFile,  // a pipe, a device
    kNotPst,          // the file is no data file at all
    kAnsi,            // an ANSI (32-bit) data file: read, never added to
    kUnsupportedPst,  // another variant of data file this program does not write
    kDamaged,         // the file's structures contradict each other
    kOutOfMemory,
};

// Where the call stood: making a new file, opening one that is there, or using the open file.
enum class FileStep { kCreating, kOpening, kUsing };

// The problem behind `e`, thrown by a call on the data file at `step`.
FileProblem ProblemOf(const std::exception& e, FileStep step);

// A sentence naming `problem` for the data file at `path` (UTF-8), with the technical text
// `detail` after it; `detail` alone for kUnknown.
std::string DescribeProblem(FileProblem problem, const std::string& path,
                            const std::string& detail);

// Both in one: the description of `e` for the data file at `path`.
std::string DescribeFailure(const std::exception& e, const std::string& path, FileStep step);

}  // namespace store
