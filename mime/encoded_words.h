#pragma once

#include <gmime/gmime.h>

#include <optional>
#include <string>
#include <string_view>

namespace mime {

// Senders split long text into many base64 encoded words of one charset, each padded on its
// own ("=?UTF-8?B?TXlTdXJ2ZXk=?= =?UTF-8?B?LmNvbSAmIEM=?="). GMime joins such neighbours into
// one run of base64 before decoding it, and the run ends at the first padding: everything after
// it is lost. Returns `raw` with each such group of words rewritten as one word holding all their
// bytes (which also keeps a character split between two words whole), or nothing when no group
// needs it.
std::optional<std::string> JoinSplitBase64Words(std::string_view raw);

// Applies the above to every header of `object`, so that every later reading of them (subject,
// addresses, any header by name) sees the whole text.
void RepairSplitEncodedWords(GMimeObject* object);

}  // namespace mime
