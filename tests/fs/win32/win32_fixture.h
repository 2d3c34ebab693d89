#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "fs/path_forms.h"
#include "fs/platform_probe.h"
#include "fs/win32/text_convert.h"
#include "fs/win32/windows_api.h"

namespace fs::win32::testing {

inline const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::u16string FromW(const wchar_t* s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s));
}

// Gives a test the system table and a module state as at the start of a process, and puts
// back whatever was there before when the test ends.
class FreshModule {
  public:
    FreshModule() : savedApi_(SystemApi()), savedState_(ModuleState()) {
        SystemApi() = RealApi();
        ModuleState() = ProbeState{};
    }
    ~FreshModule() {
        SystemApi() = savedApi_;
        ModuleState() = savedState_;
    }
    FreshModule(const FreshModule&) = delete;
    FreshModule& operator=(const FreshModule&) = delete;

  private:
    Api savedApi_;
    ProbeState savedState_;
};

// A unique folder under the Windows temporary folder, created with raw wide calls (so the
// code under test is not used to prepare its own inputs) and removed with its contents.
class TempTree {
  public:
    TempTree() {
        wchar_t buffer[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, buffer);
        static std::atomic<int> counter{0};
        std::string name = "eml2pst-fs-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(counter++) + "-" + std::to_string(GetTickCount64());
        root_ = Utf8FromWide(FromW(buffer));
        if (!root_.empty() && root_.back() != '\\') root_ += '\\';
        root_ += name + "\\";
        created_ = CreateDirectoryW(W(LongPathForm(WideFromUtf8(root_))), nullptr) != FALSE;
    }
    ~TempTree() {
        if (created_) RemoveTree(LongPathForm(WideFromUtf8(root_)));
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    bool ok() const { return created_; }
    // UTF-8, ending with a backslash.
    const std::string& path() const { return root_; }

    // Creates a folder below the root (one level) and returns its path with a trailing "\".
    std::string Folder(const std::string& relative, DWORD attributes = 0) const {
        std::string full = root_ + relative;
        std::u16string form = LongPathForm(WideFromUtf8(full));
        EXPECT_TRUE(CreateDirectoryW(W(form), nullptr)) << full << " error " << GetLastError();
        if (attributes != 0) SetFileAttributesW(W(form), attributes);
        return full + "\\";
    }

    std::string File(const std::string& relative, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
        std::string full = root_ + relative;
        HANDLE h = CreateFileW(W(LongPathForm(WideFromUtf8(full))), GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, attributes, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << full << " error " << GetLastError();
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(h, "x", 1, &written, nullptr);
            CloseHandle(h);
        }
        return full;
    }

  private:
    // `form` is a long-path form with its NUL.
    static void RemoveTree(std::u16string form) {
        form.pop_back();
        if (form.back() == u'\\') form.pop_back();
        WIN32_FIND_DATAW data{};
        std::u16string pattern = form + u"\\*";
        HANDLE h = FindFirstFileW(W(pattern), &data);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::u16string name = FromW(data.cFileName);
                if (name == u"." || name == u"..") continue;
                std::u16string child = form + u"\\" + name;
                SetFileAttributesW(W(child), FILE_ATTRIBUTE_NORMAL);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(child + u'\0');
                else
                    DeleteFileW(W(child));
            } while (FindNextFileW(h, &data));
            FindClose(h);
        }
        SetFileAttributesW(W(form), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(W(form));
    }

    std::string root_;
    bool created_ = false;
};

}  // namespace fs::win32::testing
