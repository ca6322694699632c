#include "SourceFiles.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace mailstore::cli {

namespace {

std::wstring Wide(const std::string& path) {
    std::wstring out;
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), out.data(), n);
    }
    std::replace(out.begin(), out.end(), L'/', L'\\');
    return out;
}

std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

// The system's own words for an error code, without the closing period.
std::string Reason(DWORD error) {
    wchar_t buf[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, buf, static_cast<DWORD>(std::size(buf)), nullptr);
    while (n > 0 &&
           (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ' || buf[n - 1] == L'.'))
        --n;
    if (n == 0)
        return "system error " + std::to_string(error);
    return Narrow(std::wstring(buf, n));
}

constexpr char kDevice[] = "a device or a pipe, not a file";

// Opened without access rights, which never waits.
bool IsDevice(const std::string& path) {
    HANDLE h =
        CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool device = GetFileType(h) != FILE_TYPE_DISK;
    CloseHandle(h);
    return device;
}

uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

} // namespace

EntryInfo Probe(const std::string& path) {
    EntryInfo info;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        info.kind = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                        ? EntryKind::Missing
                        : EntryKind::Unreadable;
        info.reason = Reason(error);
        if (info.kind == EntryKind::Unreadable && IsDevice(path)) {
            info.kind = EntryKind::Special;
            info.reason = kDevice;
        }
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        info.kind = EntryKind::Directory;
    } else {
        // Devices and pipes are told apart when opened.
        info.kind = EntryKind::Regular;
        info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return info;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    const size_t last = dir.find_last_of("/\\");
    if (last != std::string::npos && last + 1 == dir.size())
        return dir + name;
    return dir + (last != std::string::npos && dir[last] == '\\' ? "\\" : "/") + name;
}

bool ListDirectory(const std::string& path, std::vector<std::string>* names, std::string* reason) {
    names->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(Wide(path + "/*").c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        *reason = Reason(GetLastError());
        return false;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names->push_back(Narrow(name));
    } while (FindNextFileW(find, &data));
    const DWORD error = GetLastError();
    FindClose(find);
    if (error != ERROR_NO_MORE_FILES) {
        *reason = Reason(error);
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

bool MoveToFreeName(const std::string& from, const std::string& to, bool* taken,
                    std::string* reason) {
    *taken = false;
    const std::wstring f = Wide(from), t = Wide(to);
    for (int attempt = 0;; ++attempt) {
        // Without MOVEFILE_REPLACE_EXISTING a name that is there refuses the move.
        if (MoveFileExW(f.c_str(), t.c_str(), 0))
            return true;
        const DWORD err = GetLastError();
        // A scanner may still look at the file just closed.
        if (err == ERROR_SHARING_VIOLATION && attempt < 20) {
            Sleep(10);
            continue;
        }
        *taken = err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS;
        *reason = Reason(err);
        return false;
    }
}

std::string RunToken() {
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    uint64_t x = (static_cast<uint64_t>(GetCurrentProcessId()) << 40) ^
                 static_cast<uint64_t>(ticks.QuadPart) ^
                 ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return TokenText(x);
}

SourceFile::~SourceFile() {
    if (handle_ != nullptr)
        CloseHandle(handle_);
}

std::unique_ptr<SourceFile> SourceFile::Open(const std::string& path, bool* special,
                                             std::string* reason) {
    *special = false;
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *reason = Reason(GetLastError());
        return nullptr;
    }
    std::unique_ptr<SourceFile> f(new SourceFile());
    f->handle_ = h;
    // A pipe or a console opens at once but may wait forever when read.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        *special = true;
        *reason = kDevice;
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION fi;
    if (!GetFileInformationByHandle(h, &fi)) {
        *reason = Reason(GetLastError());
        return nullptr;
    }
    if (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        *reason = Reason(ERROR_DIRECTORY);
        return nullptr;
    }
    f->size_ = (static_cast<uint64_t>(fi.nFileSizeHigh) << 32) | fi.nFileSizeLow;
    f->modified_ = Ticks(fi.ftLastWriteTime);
    return f;
}

bool SourceFile::Read(char* buf, size_t len, size_t* got, std::string* reason) {
    const DWORD ask = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
    DWORD n = 0;
    if (!ReadFile(handle_, buf, ask, &n, nullptr)) {
        *reason = Reason(GetLastError());
        return false;
    }
    *got = n;
    return true;
}

} // namespace mailstore::cli
