#include "cli/summary.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "fs/utf8_path.h"

namespace cli {
namespace {

constexpr size_t kNamedInSummary = 10;

const char* OutcomeName(engine::FolderOutcome o) {
    switch (o) {
        case engine::FolderOutcome::Converted:
            return "converted";
        case engine::FolderOutcome::Skipped:
            return "skipped";
        case engine::FolderOutcome::Stopped:
            return "stopped";
        case engine::FolderOutcome::Cancelled:
            return "cancelled";
        case engine::FolderOutcome::StoreFailed:
            return "store failed";
        case engine::FolderOutcome::NothingToConvert:
            return "nothing to convert";
    }
    return "";
}

const char* OutcomeName(engine::RunOutcome o) {
    switch (o) {
        case engine::RunOutcome::AllConverted:
            return "all converted";
        case engine::RunOutcome::ConvertedWithFailures:
            return "converted with failures";
        case engine::RunOutcome::Stopped:
            return "stopped";
        case engine::RunOutcome::NothingToConvert:
            return "nothing to convert";
    }
    return "";
}

std::string Fixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

std::string Plural(int n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Counts(const std::string& label, const std::string& value) {
    std::string line = "  " + label + ":";
    line.resize(std::max<size_t>(line.size() + 1, 20), ' ');
    return line + value + "\n";
}

std::optional<uint64_t> DataFileSize(const std::string& pst, const DataFileSizes* sizes) {
    if (sizes) {
        auto it = sizes->find(pst);
        return it == sizes->end() ? std::nullopt : std::optional<uint64_t>(it->second);
    }
    std::error_code ec;
    auto size = std::filesystem::file_size(fs::PathFromUtf8(pst), ec);
    return ec ? std::nullopt : std::optional<uint64_t>(size);
}

}  // namespace

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(char(c));
                }
        }
    }
    return out + "\"";
}

std::string ReadableSize(uint64_t bytes) {
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    return unit == 0 ? std::to_string(bytes) + " bytes" : Fixed(value, 1) + " " + units[unit];
}

std::string JsonSummary(const engine::RunReport& report, double seconds,
                        const DataFileSizes* sizes) {
    std::string j = "{\n  \"folders\": [";
    size_t failureIndex = 0, warningIndex = 0;
    for (size_t i = 0; i < report.folders.size(); ++i) {
        const auto& f = report.folders[i];
        j += i ? ",\n    {" : "\n    {";
        j += "\"source\": " + JsonString(f.source);
        if (!f.linkedFrom.empty()) j += ", \"linkedFrom\": " + JsonString(f.linkedFrom);
        j += ", \"pst\": " + JsonString(f.pstPath);
        if (auto size = f.pstPath.empty() ? std::nullopt : DataFileSize(f.pstPath, sizes))
            j += ", \"pstBytes\": " + std::to_string(*size);
        if (!f.continuations.empty()) {
            j += ", \"continuations\": [";
            for (size_t k = 0; k < f.continuations.size(); ++k) {
                j += (k ? ", " : "") + std::string("{\"pst\": ") + JsonString(f.continuations[k]);
                if (auto size = DataFileSize(f.continuations[k], sizes))
                    j += ", \"pstBytes\": " + std::to_string(*size);
                j += "}";
            }
            j += "]";
        }
        j += ", \"storeOpened\": " + std::string(f.storeOpened ? "true" : "false") +
             ", \"queued\": " + std::to_string(f.queued) +
             ", \"messageFiles\": " + std::to_string(f.messageFiles) +
             ", \"converted\": " + std::to_string(f.converted) +
             ", \"warned\": " + std::to_string(f.warned) +
             ", \"alreadyStored\": " + std::to_string(f.alreadyStored) +
             ", \"foldersCreated\": " + std::to_string(f.foldersCreated) + ", \"outcome\": \"" +
             OutcomeName(f.outcome) + "\", \"skipped\": " + (f.Skipped() ? "true" : "false");
        if (f.storeFailed) j += ", \"storeError\": " + JsonString(f.storeError);
        j += ", \"unreadFolders\": [";
        for (size_t k = 0; k < f.unreadFolders.size(); ++k)
            j += (k ? ", " : "") + std::string("{\"folder\": ") +
                 JsonString(f.unreadFolders[k].file) +
                 ", \"reason\": " + JsonString(f.unreadFolders[k].reason) + "}";
        j += "]";
        j += ", \"failed\": [";
        for (int k = 0; k < f.failed && failureIndex < report.failures.size();
             ++k, ++failureIndex) {
            const auto& fail = report.failures[failureIndex];
            j += (k ? ", " : "") + std::string("{\"file\": ") + JsonString(fail.file) +
                 ", \"reason\": " + JsonString(fail.reason) + "}";
        }
        j += "], \"warnings\": [";
        for (int k = 0; k < f.warned && warningIndex < report.warnings.size();
             ++k, ++warningIndex) {
            const auto& w = report.warnings[warningIndex];
            j += (k ? ", " : "") + std::string("{\"file\": ") + JsonString(w.file) +
                 ", \"warnings\": [";
            for (size_t n = 0; n < w.warnings.size(); ++n)
                j += (n ? ", " : "") + JsonString(w.warnings[n]);
            j += "]}";
        }
        j += "]}";
    }
    j += std::string(report.folders.empty() ? "" : "\n  ") + "],\n  \"ignored\": [";
    for (size_t k = 0; k < report.ignored.size(); ++k)
        j += (k ? ", " : "") + std::string("{\"what\": ") + JsonString(report.ignored[k].file) +
             ", \"reason\": " + JsonString(report.ignored[k].reason) + "}";
    j += "],\n  \"outcome\": \"" + std::string(OutcomeName(report.Outcome())) +
         "\",\n  \"converted\": " + std::to_string(report.Converted()) +
         ",\n  \"warned\": " + std::to_string(report.Warned()) +
         ",\n  \"alreadyStored\": " + std::to_string(report.AlreadyStored()) +
         ",\n  \"failed\": " + std::to_string(report.Failed()) +
         ",\n  \"foldersNotConverted\": " + std::to_string(report.FoldersNotConverted().size()) +
         ",\n  \"foldersNotRead\": " + std::to_string(report.UnreadFolders().size()) +
         ",\n  \"seconds\": " + Fixed(seconds, 3) + "\n}\n";
    return j;
}

std::string TextSummary(const engine::RunReport& report, const std::string& source, double seconds,
                        const DataFileSizes* sizes) {
    int found = 0, messageFiles = 0, created = 0;
    for (const auto& f : report.folders) {
        found += f.queued;
        messageFiles += f.messageFiles;
        created += f.foldersCreated;
    }
    const int converted = report.Converted(), failed = report.Failed(), warned = report.Warned();
    const auto notConverted = report.FoldersNotConverted();
    const auto unread = report.UnreadFolders();

    std::string s;
    if (report.Outcome() == engine::RunOutcome::NothingToConvert)
        return "no message files under " + source + "\n";
    const int already = report.AlreadyStored();
    if (report.Complete() && already > 0) {
        s = "All " + Plural(messageFiles, "message file", "message files") +
            " are in the data file: " + std::to_string(converted) + " converted, " +
            std::to_string(already) + " already there";
        s += warned ? ", " + std::to_string(warned) + " converted only in part.\n" : ".\n";
    } else if (report.Complete()) {
        s = "All " + Plural(converted, "message file", "message files") + " converted";
        s += warned ? ", " + std::to_string(warned) + " of them only in part.\n" : ".\n";
    } else {
        s = report.Headline() + " " + std::to_string(converted) + " of " +
            Plural(messageFiles, "message file", "message files") + " converted";
        if (already) s += ", " + std::to_string(already) + " already in the data file";
        if (failed) s += ", " + std::to_string(failed) + " failed";
        if (!notConverted.empty())
            s += ", " + Plural(int(notConverted.size()), "folder", "folders") + " not converted";
        if (!unread.empty())
            s += ", " + Plural(int(unread.size()), "folder", "folders") + " could not be read";
        if (report.Outcome() == engine::RunOutcome::Stopped)
            s += "; what was converted before the stop is kept";
        s += ".\n";
    }
    s += Counts("files found", std::to_string(found) + " (" +
                                   Plural(messageFiles, "message file", "message files") + ")");
    s += Counts("converted", std::to_string(converted));
    if (already) s += Counts("already in the data file", std::to_string(already));
    s += Counts("with warnings", std::to_string(warned));
    s += Counts("failed", std::to_string(failed));
    s += Counts("folders created", std::to_string(created));
    for (const auto& f : report.folders) {
        // One that could not be created or opened is named below with the cause.
        if (f.pstPath.empty() || !f.storeOpened) continue;
        std::vector<std::string> files{f.pstPath};
        files.insert(files.end(), f.continuations.begin(), f.continuations.end());
        for (const auto& file : files) {
            auto size = DataFileSize(file, sizes);
            s += Counts("data file",
                        file + (size ? " (" + ReadableSize(*size) + ")" : " (not written)"));
        }
    }
    for (const auto& f : report.folders)
        if (!f.linkedFrom.empty()) s += Counts("source", f.source + " linked from " + f.linkedFrom);
    s += Counts("time", Fixed(seconds, 2) + " s" +
                            (seconds > 0 && converted > 0
                                 ? ", " + Fixed(converted / seconds, 0) + " messages/s"
                                 : ""));
    if (!report.failures.empty()) {
        s += "Failed (" + std::to_string(report.failures.size()) + "):\n";
        for (size_t i = 0; i < report.failures.size() && i < kNamedInSummary; ++i)
            s += "  " + report.failures[i].file + ": " + report.failures[i].reason + "\n";
        if (report.failures.size() > kNamedInSummary)
            s += "  ... and " + std::to_string(report.failures.size() - kNamedInSummary) +
                 " more (all of them in --json)\n";
    }
    if (!report.warnings.empty()) {
        s += "Converted only in part (" + std::to_string(report.warnings.size()) + "):\n";
        for (size_t i = 0; i < report.warnings.size() && i < kNamedInSummary; ++i) {
            std::string what;
            for (const auto& w : report.warnings[i].warnings)
                what += (what.empty() ? "" : "; ") + w;
            s += "  " + report.warnings[i].file + ": " + what + "\n";
        }
        if (report.warnings.size() > kNamedInSummary)
            s += "  ... and " + std::to_string(report.warnings.size() - kNamedInSummary) +
                 " more (all of them in --json)\n";
    }
    for (const auto& f : report.folders)
        if (f.storeFailed)
            s += (f.storeOpened ? "Not converted to the end: " : "Not converted: ") + f.source +
                 " (" + f.storeError + ")\n";
    if (!unread.empty()) {
        s += "Could not be read (" + std::to_string(unread.size()) + "):\n";
        for (size_t i = 0; i < unread.size() && i < kNamedInSummary; ++i)
            s += "  " + unread[i].file + ": " + unread[i].reason + "\n";
        if (unread.size() > kNamedInSummary)
            s += "  ... and " + std::to_string(unread.size() - kNamedInSummary) +
                 " more (all of them in --json)\n";
    }
    return s;
}

}  // namespace cli
