#pragma once

#include <string>

namespace fs {

// Hands an address (a web address, or a file:// URL that may carry an #anchor) to the
// system's own opener. False when this platform leaves opening to the toolkit (or the system
// refused); the caller then uses its toolkit's launcher.
bool OpenWithSystem(const std::string& url);

}  // namespace fs
