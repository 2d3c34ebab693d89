#include "fs/shell_open.h"

#include "fs/win32/text_convert.h"
#include "fs/win32/windows_api.h"

// After windows.h, which it needs.
// clang-format off
#include <shellapi.h>
// clang-format on

namespace fs {

bool OpenWithSystem(const std::string& url) {
    const std::u16string wide = win32::WideFromUtf8(url);
    // ShellExecuteW keeps a file:/// URL whole, anchor included, for the default browser.
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr, nullptr,
                        SW_SHOWNORMAL));
    return result > 32;
}

}  // namespace fs
