// Imports an mbox of 1 GiB (or the MiB given as the first argument) with the
// real mailstore.exe in a process of its own, and reports its time and memory
// peak against a plain read of the same file.
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double MiB(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// Messages of 2 KB to 200 KB, a few with a large attachment, bodies with
// "From " lines quoted the mbox way.
uint64_t WriteMbox(const fsys::path& path, uint64_t target) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 rng(12);
    std::string buf;
    uint64_t written = 0;
    for (unsigned n = 1; written < target; ++n) {
        buf = "From sender" + std::to_string(n % 97) + "@example.org Mon Dec  7 08:00:00 2026\n";
        buf += "Received: by mx.example.org; Mon, 7 Dec 2026 08:00:" + std::to_string(10 + n % 50) +
               " +0000\nFrom: Sender " + std::to_string(n % 97) + " <sender" +
               std::to_string(n % 97) +
               "@example.org>\nTo: Reader <reader@example.org>\nSubject: Report " +
               std::to_string(n) + "\nDate: Mon, 7 Dec 2026 07:59:00 +0000\n\n";
        const size_t body = n % 500 == 0 ? 8u << 20 : 2000 + rng() % 200000;
        while (buf.size() < body) {
            buf += (rng() % 40 == 0) ? ">From the archive, line " : "Status line of the report ";
            buf += std::to_string(rng()) + " with some words to fill it out to size\n";
        }
        buf += "\n";
        out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        written += buf.size();
    }
    return written;
}

double PlainRead(const fsys::path& path, uint64_t* bytes) {
    const auto start = Clock::now();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    std::string buf(1u << 20, '\0');
    DWORD got = 0;
    *bytes = 0;
    while (h != INVALID_HANDLE_VALUE &&
           ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got > 0)
        *bytes += got;
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return Seconds(start);
}

std::wstring ToolPath() {
    std::string path = MAILSTORE_CLI;
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    return fsys::path(path).make_preferred().wstring();
}

struct Run {
    DWORD exitCode = 1;
    double seconds = 0;
    SIZE_T peakWorkingSet = 0; // sampled while it runs: the system forgets it at exit
    SIZE_T peakPrivate = 0;
};

Run Tool(const std::wstring& args) {
    Run r;
    std::wstring line = L"\"" + ToolPath() + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const auto start = Clock::now();
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return r;
    do {
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) {
            r.peakWorkingSet = std::max(r.peakWorkingSet, pmc.PeakWorkingSetSize);
            r.peakPrivate = std::max(r.peakPrivate, pmc.PeakPagefileUsage);
        }
    } while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT);
    r.seconds = Seconds(start);
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 0;
    const uint64_t target = (mib > 0 ? mib : 1024) << 20; // other benchmarks' flags mean 1 GiB
    const fsys::path dir = fsys::temp_directory_path() /
                           (L"bench-mbox-import-" + std::to_wstring(GetCurrentProcessId()));
    fsys::create_directories(dir);
    const fsys::path mbox = dir / L"big.mbox";
    const fsys::path store = dir / L"store";
    const uint64_t size = WriteMbox(mbox, target);

    uint64_t read = 0;
    const double plain = PlainRead(mbox, &read);
    std::printf("mbox of %.0f MiB, plain read:      %7.2f s, %6.0f MiB/s\n", MiB(size), plain,
                MiB(read) / plain);

    int rc = 0;
    if (Tool(L"init \"" + store.wstring() + L"\"").exitCode != 0) {
        std::fprintf(stderr, "mailstore init failed\n");
        rc = 1;
    } else {
        const Run r =
            Tool(L"import \"" + store.wstring() + L"\" Inbox \"" + mbox.wstring() + L"\"");
        std::printf(
            "mailstore.exe import (exit %lu):  %7.2f s, %6.0f MiB/s, %.1fx the plain read\n",
            r.exitCode, r.seconds, MiB(size) / r.seconds, r.seconds / plain);
        std::printf("  memory peak: working set %.0f MiB, private %.0f MiB (file %.0f MiB)\n",
                    MiB(r.peakWorkingSet), MiB(r.peakPrivate), MiB(size));
        rc = r.exitCode == 0 ? 0 : 1;
    }
    std::error_code ec;
    fsys::remove_all(dir, ec);
    return rc;
}
