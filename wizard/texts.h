#pragma once

namespace wizard {

inline constexpr const char* kAppTitle = "eml2pst Converter";
inline constexpr const char* kAppCaption = "eml2pst Converter 0.1";
inline constexpr const char* kHelpLinkText = " [ ? ]";
inline constexpr const char* kHelpLinkTip = "Click to Know More...";
inline constexpr const char* kPromptSource = "Choose Source Folder...";
inline constexpr const char* kPromptOutput = "Choose Output Folder...";

}  // namespace wizard
