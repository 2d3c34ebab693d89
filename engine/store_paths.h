#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fs/text.h"

namespace engine {

// Store folder paths always use "\". A source folder name that itself holds "\" (possible on
// POSIX) travels inside a store path with U+F05C in its place, so it still names one folder;
// the store turns it back into "\".
std::string ToStorePath(std::string_view platformRelative);
// A name (a store's display name, a mailbox's name) as one piece of a store path: any "\" in
// it travels as U+F05C, on every platform.
std::string ToStorePathPiece(std::string_view name);

// File `k` (from 2) of the series a data file begins: "NAME.pst" -> "NAME (k).pst".
std::string ContinuationPath(const std::string& first, int k);

// Every occurrence of `what` removed from `text`.
std::string RemoveAll(std::string text, std::string_view what);

std::vector<std::string> SplitStorePath(std::string_view path);  // empty pieces dropped
std::string JoinStorePath(const std::vector<std::string>& pieces);

// Spaces (only) cut from both ends.
inline std::string Trim(std::string_view text) {
    return std::string(fs::Trim(text, " "));
}

}  // namespace engine
