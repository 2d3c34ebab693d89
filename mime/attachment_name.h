#pragma once

#include <string>
#include <string_view>

namespace mime {

// File name safe on Windows: control characters and " / : < > | \ * ? become '_', surrounding
// blanks and trailing dots go. UTF-8 in and out.
std::string SanitizeFileName(std::string_view name);

// Extension for an unnamed part of the given MIME type (".txt", ".htm", ".ics", ".eml", ...).
std::string ExtensionForMimeType(std::string_view mimeType);

// Text from the last '.', dot included; empty when there is none.
std::string ExtensionOf(std::string_view name);

// 8.3 form: the name itself when it already fits, else the first 6 legal characters, "~1" and
// the first 3 characters of the extension.
std::string ShortFileName(std::string_view name);

}  // namespace mime

namespace mime {

// The value of parameter `name` (e.g. "filename") in a raw Content-Type or Content-Disposition
// header value, when it is in RFC 2231 extended form (`name*=` or `name*0*=`, `name*1=`, ...):
// segments joined, %-escapes decoded, read in the declared charset; bytes that charset cannot
// read fall back to UTF-8 or windows-1252. Empty when the parameter is not in that form.
std::string ExtendedParameter(std::string_view rawHeaderValue, std::string_view name);

}  // namespace mime
