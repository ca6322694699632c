#include "BrisVersion.h"
#include "Cli.h"

#include <cstdio>
#include <exception>
#include <iostream>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <io.h>
#include <fcntl.h>
#else
#include <unistd.h>
#endif

namespace {

std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    // The narrow argv is in the ANSI code page; paths and folder names may not fit it.
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr)
        return args;
    for (int i = 1; i < n; ++i) {
        int len = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(len > 0 ? static_cast<size_t>(len - 1) : 0, '\0');
        if (len > 1)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), len, nullptr, nullptr);
        args.push_back(std::move(s));
    }
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

bool ErrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    try {
        const std::vector<std::string> args = Arguments(argc, argv);
        if (args.size() == 1 && args[0] == "--version") {
            std::cout << "mailstore " << BRIS_VERSION_TEXT << "\n";
            return 0;
        }
#ifdef _WIN32
        // Message sources go out byte for byte: no CR added before each LF.
        if (!args.empty() && args[0] == "show")
            _setmode(_fileno(stdout), _O_BINARY);
#endif
        return mailstore::cli::Run(args, std::cout, std::cerr, ErrIsTerminal());
    } catch (const std::exception& e) {
        std::cerr << "mailstore: " << e.what() << "\n";
        return 1;
    }
}
