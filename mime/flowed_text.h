#pragma once

#include <string>
#include <string_view>

namespace mime {

// Plain text sent as format=flowed (RFC 3676) with its soft line breaks joined: a line ending
// in a space continues on the next line of the same quote depth; space-stuffing is undone and,
// with delsp=yes, the space before a soft break is dropped. Lines end with CRLF.
std::string UnflowText(std::string_view text, bool delsp);

}  // namespace mime
