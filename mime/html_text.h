#pragma once

#include <string>
#include <string_view>

namespace mime {

// Plain text of an HTML body (UTF-8 in, UTF-8 out): tags dropped, script/style/head content
// dropped, block ends as line breaks, character references decoded.
std::string HtmlToText(std::string_view html);

// The charset a `<meta>` element in the first 4 KB declares, or empty.
std::string HtmlMetaCharset(std::string_view html);

// `html` with the charset of its `<meta>` declarations replaced by `charset`.
std::string ReplaceHtmlMetaCharset(std::string_view html, std::string_view charset);

}  // namespace mime

namespace mime {

// Text with & < > " escaped, line breaks as <br>.
std::string EscapeHtml(std::string_view text);

// What lies between <body ...> and </body> (the whole text when there is no body element).
std::string HtmlBodyContent(std::string_view html);

}  // namespace mime
