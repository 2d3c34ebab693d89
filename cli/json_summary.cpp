#include "cli/json_summary.h"

#include <cstdio>

namespace cli {
namespace {

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
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

}  // namespace

std::string JsonSummary(const engine::RunReport& report, double seconds) {
    std::string j = "{\n  \"folders\": [";
    size_t failureIndex = 0;
    for (size_t i = 0; i < report.folders.size(); ++i) {
        const auto& f = report.folders[i];
        j += i ? ",\n    {" : "\n    {";
        j += "\"source\": " + Quote(f.source) + ", \"pst\": " + Quote(f.pstPath) +
             ", \"queued\": " + std::to_string(f.queued) + ", \"converted\": " +
             std::to_string(f.converted) + ", \"skipped\": " + (f.skipped ? "true" : "false");
        if (f.storeFailed) j += ", \"storeError\": " + Quote(f.storeError);
        j += ", \"failed\": [";
        for (int k = 0; k < f.failed && failureIndex < report.failures.size(); ++k, ++failureIndex) {
            const auto& fail = report.failures[failureIndex];
            j += (k ? ", " : "") + std::string("{\"file\": ") + Quote(fail.file) +
                 ", \"reason\": " + Quote(fail.reason) + "}";
        }
        j += "]}";
    }
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.3f", seconds);
    j += std::string(report.folders.empty() ? "" : "\n  ") + "],\n  \"converted\": " +
         std::to_string(report.Converted()) + ",\n  \"failed\": " + std::to_string(report.Failed()) +
         ",\n  \"foldersNotConverted\": " + std::to_string(report.FoldersNotConverted().size()) +
         ",\n  \"seconds\": " + secs + "\n}\n";
    return j;
}

}  // namespace cli
