// Bursts of store notifications reaching the main window through the real
// server (the built DLL, loaded directly, no registration) on a folder of
// 100,000 messages: another writer on the same directory imports 10,000 more
// (200 per commit), marks them read, deletes them; each timed from the start of
// the change until the window's list and log show all of it, shown and painted.
// Last, another process (the command-line tool) imports 10,000 more while a
// thread asks the list for its row count every millisecond: the window's walks
// of the folder, their time, and how long after the importer's end the last
// row came. Sizes: first argument the folder, second the burst.
#include "BenchSupport.h"
#include "CountingStore.h"
#include "main/MainUnit.h"
#include "main/views/MessageRows.h"
#include "RealServer.h"
#include "Store.h"
#include "StoreRecords.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using namespace realserver;

constexpr size_t kCommitBatch = 200; // as the command-line tool imports
constexpr double kWaitBoundMs = 120000;

std::string Source(size_t i) {
    return "From: Sender " + std::to_string(i % 97) +
           " <sender@example.org>\r\nTo: Reader <reader@example.org>\r\nSubject: Message number " +
           std::to_string(i) + "\r\nDate: Tue, 03 Mar 2026 10:20:30 +0000\r\n\r\nBody of message " +
           std::to_string(i) + "\r\n";
}

bool Import(mailstore::Store& store, mailstore::FolderId folder, size_t first, size_t count,
            size_t batch, std::vector<mailstore::MessageId>* ids) {
    for (size_t done = 0; done < count;) {
        size_t n = std::min(batch, count - done);
        std::vector<std::string> sources;
        for (size_t i = 0; i < n; ++i)
            sources.push_back(Source(first + done + i));
        std::vector<mailstore::ImportItem> items(n);
        for (size_t i = 0; i < n; ++i)
            items[i].source = sources[i];
        std::vector<mailstore::MessageId> made;
        mailstore::Status st = store.ImportMessages(folder, items, &made);
        if (!st.ok()) {
            std::fprintf(stderr, "import failed: %s\n", st.message().c_str());
            return false;
        }
        if (ids)
            ids->insert(ids->end(), made.begin(), made.end());
        done += n;
    }
    return true;
}

size_t Count(const std::string& text, const char* what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += 1)
        ++n;
    return n;
}

// Runs the message loop until `done` (checked whenever the queue is empty) or
// the bound; then shows the log and paints. False when the bound passed.
bool PumpUntil(TBrisvanderMain& window, const std::function<bool()>& done) {
    double limit = bench::Now() + kWaitBoundMs;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            break;
        double left = limit - bench::Now();
        if (left <= 0)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min(left, 20.0)),
                                  QS_ALLINPUT);
    }
    window.FlushLog();
    bench::Paint(window.Handle());
    return true;
}

// The importer: the command-line tool named by BENCH_IMPORTER (the native one
// under Wine, as another program would import beside the tool), else this
// build's Windows one.
std::string ToolPath() {
    const char* given = std::getenv("BENCH_IMPORTER");
    if (given && *given)
        return given;
    std::string built = BENCH_MAILSTORE_EXE;
    if (!built.empty() && built[0] == '/')
        built = "Z:" + built;
    return built;
}

// `count` messages in one mbox file, numbered from `first`.
bool WriteMbox(const std::string& path, size_t first, size_t count) {
    std::ofstream out(path, std::ios::binary);
    for (size_t i = first; i < first + count; ++i) {
        std::string source = Source(i);
        for (size_t at; (at = source.find("\r\n")) != std::string::npos;)
            source.replace(at, 2, "\n");
        out << "From sender@example.org Tue Mar  3 10:20:30 2026\n" << source << "\n";
    }
    return static_cast<bool>(out);
}

// A process of its own, started at once; its handle closed at the end.
class Process {
  public:
    explicit Process(std::string commandLine) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            process_ = info.hProcess;
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() {
        if (process_)
            CloseHandle(process_);
    }
    HANDLE Handle() const { return process_; }

  private:
    HANDLE process_ = nullptr;
};

// Asks the list for its row count every millisecond from a thread of its own,
// noting when the importer ended and when the list first held `rows`.
class Poller {
  public:
    Poller(HWND list, std::function<bool()> ended, size_t rows)
        : list_(list), ended_(std::move(ended)), rows_(rows) {
        thread_ = CreateThread(nullptr, 0, &Poller::Run, this, 0, nullptr);
    }
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;
    ~Poller() {
        stop_ = true;
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
    }
    bool Done() const { return done_; }
    std::atomic<double> importerEnd{0};
    std::atomic<double> lastRow{0};
    std::atomic<size_t> polls{0};

  private:
    static DWORD WINAPI Run(void* self) {
        auto* poller = static_cast<Poller*>(self);
        double limit = bench::Now() + kWaitBoundMs;
        while (!poller->stop_ && bench::Now() < limit) {
            if (poller->importerEnd == 0 && poller->ended_())
                poller->importerEnd = bench::Now();
            auto count = static_cast<size_t>(SendMessageW(poller->list_, LVM_GETITEMCOUNT, 0, 0));
            ++poller->polls;
            if (poller->lastRow == 0 && count >= poller->rows_)
                poller->lastRow = bench::Now();
            if (poller->lastRow != 0 && poller->importerEnd != 0)
                break;
            Sleep(1);
        }
        poller->done_ = true;
        return 0;
    }
    HWND list_;
    std::function<bool()> ended_;
    size_t rows_;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
};

} // namespace

int main(int argc, char** argv) {
    const size_t base = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const size_t burst = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    // A store built elsewhere, whose Inbox holds the folder's messages, is used
    // in place (under Wine, building 100,000 takes many minutes; the native
    // tool takes one), and only the import by another process is run on it.
    const char* seed = std::getenv("BENCH_STORE_DIR");
    const bool seeded = seed && *seed;
    const TempDir dir("bench-store-burst");
    const std::string dirText = seeded ? std::string(seed) : dir.Text();
    int failures = 0;
    {
        mailstore::FolderId inbox = 0;
        double buildMs = 0, importAloneMs = 0;
        if (seeded) {
            std::unique_ptr<mailstore::Store> given;
            if (!mailstore::Store::Open(dirText, mailstore::OpenOptions(), &given).ok() ||
                !given->FindFolderByPath("Inbox", &inbox).ok()) {
                std::fprintf(stderr, "cannot open the store in %s\n", dirText.c_str());
                return 1;
            }
        } else {
            // Built before the server opens it.
            NoSyncFileSystem noSync;
            mailstore::OpenOptions options;
            options.create = true;
            options.fs = &noSync;
            std::unique_ptr<mailstore::Store> builder;
            if (!mailstore::Store::Open(dirText, options, &builder).ok() ||
                !builder->FindFolderByPath("Inbox", &inbox).ok()) {
                std::fprintf(stderr, "cannot create the store in %s\n", dirText.c_str());
                return 1;
            }
            double start = bench::Now();
            if (!Import(*builder, inbox, 0, base, 5000, nullptr))
                return 1;
            buildMs = bench::Now() - start;
            builder.reset();
            // The import alone, durable as every later change, into a folder of its
            // own that goes again, with nobody listening.
            std::unique_ptr<mailstore::Store> alone;
            mailstore::FolderId scratch = 0;
            if (!mailstore::Store::Open(dirText, mailstore::OpenOptions(), &alone).ok() ||
                !alone->CreateFolder(mailstore::kRootFolder, "Scratch", &scratch).ok())
                return 1;
            start = bench::Now();
            if (!Import(*alone, scratch, base, burst, kCommitBatch, nullptr))
                return 1;
            importAloneMs = bench::Now() - start;
            alone->DeleteFolder(scratch);
        }
        SetEnvironmentVariableA("MAILSTORE_DIR", dirText.c_str());
        ServerDll dll(DllPath());
        if (!dll.Loaded()) {
            std::fprintf(stderr, "cannot load %s\n", DllPath().c_str());
            return 1;
        }
        mailstore::OpenOptions options;
        std::unique_ptr<mailstore::Store> writer; // the other process
        if (!mailstore::Store::Open(dirText, options, &writer).ok()) {
            std::fprintf(stderr, "cannot open the store a second time\n");
            return 1;
        }

        bench::WalkCount walks;
        TBrisvanderMain window([&](IStoreNamespace** result) {
            IStoreNamespace* real = nullptr;
            HRESULT hr = dll.Create(&real);
            if (FAILED(hr))
                return hr;
            *result = new bench::CountingNamespace(real, walks);
            real->Release();
            return S_OK;
        });
        double start = bench::Now();
        window.Create(GetModuleHandleW(nullptr), SW_SHOW);
        MessageRows& rows = window.Rows();
        bool opened = PumpUntil(window, [&] { return rows.Count() == base; });
        double openMs = bench::Now() - start;

        double enumerateMs = 0;
        size_t seen = 0;
        {
            IStoreNamespace* ns = nullptr;
            IStoreFolder* folder = nullptr;
            if (SUCCEEDED(dll.Create(&ns)) && ns->Initialize(nullptr, 0) == S_OK &&
                ns->OpenFolder(inbox, 0, &folder) == S_OK) {
                enumerateMs = bench::EnumerateMessages(folder, &seen);
                folder->Release();
            }
            if (ns)
                ns->Release();
        }
        std::printf("store notification bursts through the server DLL, folder of %zu, bursts of "
                    "%zu (ms)\n",
                    base, burst);
        std::printf("building the store: %.1f; window open and filled: %.1f%s\n", buildMs, openMs,
                    opened ? "" : " (TIMED OUT)");
        std::printf("one enumeration (best of 3): %.1f (%zu messages%s)\n", enumerateMs, seen,
                    seen == base ? "" : ", WRONG");
        std::printf("import of %zu alone, %zu per commit, no window: %.1f\n", burst, kCommitBatch,
                    importAloneMs);
        std::printf("%-14s %10s %10s %14s %6s\n", "burst", "writer ms", "ms", "enumerations",
                    "check");
        auto report = [&](const char* name, const Writer& change, double ms, bool ok) {
            failures += !ok;
            std::printf("%-14s %10.1f %10.1f %14.2f %6s\n", name, change.ms, ms,
                        enumerateMs > 0 ? ms / enumerateMs : 0.0, ok ? "ok" : "WRONG");
            std::fflush(stdout);
        };

        if (!seeded) {
            std::vector<mailstore::MessageId> fresh;
            size_t before = Count(window.LogText(), "NEWMSGS MsgId=");
            start = bench::Now();
            Writer imported(
                [&] { return Import(*writer, inbox, base + burst, burst, kCommitBatch, &fresh); });
            bool ok = PumpUntil(window, [&] {
                return rows.Count() == base + burst &&
                       Count(window.LogText(), "NEWMSGS MsgId=") == before + burst;
            });
            double ms = bench::Now() - start;
            imported.Join();
            report("NEWMSGS", imported, ms, ok && imported.ok);

            const std::unordered_set<MESSAGEID> freshIds(fresh.begin(), fresh.end());
            before = Count(window.LogText(), "MARKEDASREAD MsgId=");
            start = bench::Now();
            Writer marked([&] { return writer->MarkRead(inbox, fresh, true).ok(); });
            ok = PumpUntil(window, [&] {
                return Count(window.LogText(), "MARKEDASREAD MsgId=") == before + burst;
            });
            ms = bench::Now() - start;
            marked.Join();
            size_t read = 0;
            for (size_t i = 0; i < rows.Count(); ++i)
                read += freshIds.count(rows.At(i).id) && rows.At(i).image == 0;
            report("MARKEDASREAD", marked, ms, ok && marked.ok && read == burst);

            before = Count(window.LogText(), "DELETEMSGS MsgId=");
            start = bench::Now();
            Writer deleted([&] { return writer->DeleteMessages(inbox, fresh).ok(); });
            ok = PumpUntil(window, [&] {
                return rows.Count() == base &&
                       Count(window.LogText(), "DELETEMSGS MsgId=") == before + burst;
            });
            ms = bench::Now() - start;
            deleted.Join();
            size_t left = 0;
            for (size_t i = 0; i < rows.Count(); ++i)
                left += freshIds.count(rows.At(i).id);
            report("DELETEMSGS", deleted, ms, ok && deleted.ok && left == 0);
        }

        writer.reset(); // the importer is the only other writer now
        const std::string mbox = dirText + "-incoming.mbox";
        if (!WriteMbox(mbox, base + 2 * burst, burst)) {
            std::fprintf(stderr, "cannot write %s\n", mbox.c_str());
            return 1;
        }
        walks = {};
        // Wine does not wait for a native program: it runs under the shell, which
        // leaves a mark when the import is over.
        const char* importerName = std::getenv("BENCH_IMPORTER");
        const bool native = importerName && *importerName;
        const std::string mark = dirText + "-imported";
        std::filesystem::remove(mark);
        const std::string args = " import " + dirText + " Inbox " + mbox;
        start = bench::Now();
        Process importer(native ? "/bin/sh -c \"" + ToolPath() + args + " && : > " + mark + "\""
                                : "\"" + ToolPath() + "\"" + args);
        auto ended = [&] {
            if (native)
                return GetFileAttributesA(mark.c_str()) != INVALID_FILE_ATTRIBUTES;
            return WaitForSingleObject(importer.Handle(), 0) == WAIT_OBJECT_0;
        };
        bool polled = false;
        {
            Poller poller(window.ListViewMessages(), ended, base + burst);
            polled = PumpUntil(window, [&] { return poller.Done(); });
            double importerMs = poller.importerEnd - start;
            double lagMs = poller.lastRow - poller.importerEnd;
            bool imported = polled && poller.lastRow != 0 && poller.importerEnd != 0 &&
                            rows.Count() == base + burst;
            failures += !imported;
            std::printf("another process imports %zu, the list polled every ms (%zu polls): "
                        "importer %.1f, walks %zu, in walks %.1f (%.2f of the importer's), ",
                        burst, poller.polls.load(), importerMs, walks.walks, walks.ms,
                        importerMs > 0 ? walks.ms / importerMs : 0.0);
            if (poller.lastRow != 0 && poller.importerEnd != 0)
                std::printf("last row %.1f after the importer's end", lagMs);
            else
                std::printf("last row not seen within %.0f", kWaitBoundMs);
            std::printf(" %s\n", imported ? "ok" : "WRONG");
        }
        std::filesystem::remove(mbox);
        std::filesystem::remove(mark);
        window.Destroy();
    }
    CoUninitialize();
    return failures ? 2 : 0;
}
