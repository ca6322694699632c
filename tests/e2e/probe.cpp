// Looks at the running program from outside, as another program on the desktop
// would: finds its main window, reads the log panel's text, or closes it.
//
//   probe log <seconds>    prints the log once it has text and stopped changing
//   probe close <seconds>  asks the window to close and waits until it is gone
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace {

HWND FindMain() {
    return FindWindowW(L"TBrisvanderMain", L"Brisvander");
}

std::wstring LogOf(HWND main) {
    HWND edit = FindWindowExW(main, nullptr, L"Edit", nullptr);
    if (!edit)
        return {};
    LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got =
        SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

int PrintLog(DWORD deadline) {
    std::wstring last;
    DWORD stableSince = 0;
    while (GetTickCount() < deadline) {
        HWND main = FindMain();
        std::wstring text = main ? LogOf(main) : std::wstring();
        if (!text.empty() && text == last) {
            if (GetTickCount() - stableSince >= 500) {
                int bytes =
                    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
                std::string utf8(static_cast<size_t>(bytes), '\0');
                WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    utf8.data(), bytes, nullptr, nullptr);
                _setmode(_fileno(stdout), _O_BINARY);
                std::fwrite(utf8.data(), 1, utf8.size(), stdout);
                return 0;
            }
        } else {
            last = text;
            stableSince = GetTickCount();
        }
        Sleep(100);
    }
    std::fprintf(stderr, "probe: %s\n",
                 FindMain() ? "the log stayed empty" : "no main window appeared");
    return 1;
}

int Close(DWORD deadline) {
    HWND main = FindMain();
    if (!main) {
        std::fprintf(stderr, "probe: no main window to close\n");
        return 1;
    }
    PostMessageW(main, WM_CLOSE, 0, 0);
    while (GetTickCount() < deadline) {
        if (!IsWindow(main))
            return 0;
        Sleep(100);
    }
    std::fprintf(stderr, "probe: the window did not close\n");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: probe log|close <seconds>\n");
        return 2;
    }
    DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    if (std::strcmp(argv[1], "log") == 0)
        return PrintLog(deadline);
    if (std::strcmp(argv[1], "close") == 0)
        return Close(deadline);
    std::fprintf(stderr, "probe: unknown command %s\n", argv[1]);
    return 2;
}
