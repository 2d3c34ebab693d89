#include "fs/shell_open.h"

namespace fs {

// Desktops differ here; the toolkit already knows how to reach the user's browser.
bool OpenWithSystem(const std::string&) {
    return false;
}

}  // namespace fs
