// Bursts of store notifications reaching the main window through the real
// server (the built DLL, loaded directly, no registration) on a folder of
// 100,000 messages: another writer on the same directory imports 10,000 more
// (200 per commit), marks them read, deletes them; each timed from the start of
// the change until the window's list and log show all of it, shown and painted.
// Sizes: first argument the folder, second the burst.
//
// Given BRIS_BENCH_STORE_BURST (a copy of a prebuilt store) and
// BRIS_BENCH_BURST_MAIL (an mbox file), the store is that copy and the new
// messages come from the command-line tool in a second process, while another
// thread asks the list for its item count every millisecond.
#include "BenchSupport.h"
#include "CountingStore.h"
#include "ScaleBench.h"
#include "MainUnit.h"
#include "MessageRows.h"
#include "Registration.h"
#include "Store.h"
#include "StoreRecords.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

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

// Seeding only: the real files without waiting for the disk at each commit, which
// under Wine costs milliseconds per message and is not what is measured.
class NoSyncFile final : public mailstore::File {
  public:
    explicit NoSyncFile(std::unique_ptr<mailstore::File> file) : file_(std::move(file)) {}
    mailstore::Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        return file_->ReadAt(offset, buf, len, got);
    }
    mailstore::Status WriteAt(uint64_t offset, const void* buf, size_t len) override {
        return file_->WriteAt(offset, buf, len);
    }
    mailstore::Status Flush() override { return mailstore::Status(); }
    mailstore::Status Size(uint64_t* size) override { return file_->Size(size); }
    mailstore::Status Truncate(uint64_t size) override { return file_->Truncate(size); }

  private:
    std::unique_ptr<mailstore::File> file_;
};

class NoSyncFileSystem final : public mailstore::FileSystem {
  public:
    mailstore::Status Open(const std::string& path, mailstore::OpenMode mode,
                           std::unique_ptr<mailstore::File>* out, bool* missing) override {
        std::unique_ptr<mailstore::File> file;
        mailstore::Status st = real_.Open(path, mode, &file, missing);
        if (st.ok())
            *out = std::make_unique<NoSyncFile>(std::move(file));
        return st;
    }
    mailstore::Status Rename(const std::string& from, const std::string& to) override {
        return real_.Rename(from, to);
    }
    mailstore::Status Remove(const std::string& path) override { return real_.Remove(path); }
    bool Exists(const std::string& path) override { return real_.Exists(path); }
    mailstore::Status CreateDir(const std::string& path) override { return real_.CreateDir(path); }
    mailstore::Status ListDir(const std::string& path, std::vector<std::string>* names) override {
        return real_.ListDir(path, names);
    }
    mailstore::Status SyncDir(const std::string&) override { return mailstore::Status(); }
    mailstore::Status ModifiedTime(const std::string& path, uint64_t* time) override {
        return real_.ModifiedTime(path, time);
    }
    mailstore::Status Lock(const std::string& path, unsigned timeoutMs,
                           std::unique_ptr<mailstore::FileLock>* out) override {
        return real_.Lock(path, timeoutMs, out);
    }

  private:
    mailstore::FileSystem& real_ = mailstore::DefaultFileSystem();
};

// The server DLL, loaded for as long as the bench runs.
class ServerDll {
  public:
    explicit ServerDll(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
    ServerDll(const ServerDll&) = delete;
    ServerDll& operator=(const ServerDll&) = delete;
    ~ServerDll() {
        // Its hidden window may outlive the last object while messages wait.
        using CanUnload = HRESULT(WINAPI*)();
        auto canUnload = module_ ? reinterpret_cast<CanUnload>(reinterpret_cast<void*>(
                                       GetProcAddress(module_, "DllCanUnloadNow")))
                                 : nullptr;
        if (canUnload && canUnload() == S_OK)
            FreeLibrary(module_);
    }
    bool Loaded() const { return module_ != nullptr; }

    HRESULT Create(IStoreNamespace** result) const {
        using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        if (!get)
            return E_FAIL;
        IClassFactory* factory = nullptr;
        HRESULT hr = get(mailstore::com::CLSID_MailStoreServer, IID_IClassFactory,
                         reinterpret_cast<void**>(&factory));
        if (FAILED(hr))
            return hr;
        hr =
            factory->CreateInstance(nullptr, IID_IStoreNamespace, reinterpret_cast<void**>(result));
        factory->Release();
        return hr;
    }

  private:
    HMODULE module_;
};

// Runs a change on a thread of its own, as another process would, timing it.
class Writer {
  public:
    explicit Writer(std::function<bool()> work) : work_(std::move(work)) {
        thread_ = CreateThread(nullptr, 0, &Writer::Run, this, 0, nullptr);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer() { Join(); }
    void Join() {
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
    }
    bool ok = false;
    double ms = 0;
    double end = 0; // when the work ended

  private:
    static DWORD WINAPI Run(void* self) {
        auto* writer = static_cast<Writer*>(self);
        double start = bench::Now();
        writer->ok = writer->work_();
        writer->end = bench::Now();
        writer->ms = writer->end - start;
        return 0;
    }
    std::function<bool()> work_;
    HANDLE thread_ = nullptr;
};

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

// The store's directory, removed again however the bench ends.
class TempDir {
  public:
    TempDir()
        : path_(std::filesystem::temp_directory_path() /
                ("bench-store-burst-" + std::to_string(GetCurrentProcessId()))) {
        std::filesystem::create_directories(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string Text() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

std::string DllPath() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::filesystem::path beside = std::filesystem::path(exe).parent_path() / "mailstore.dll";
    if (std::filesystem::exists(beside))
        return beside.string();
    std::string built = BENCH_MAILSTORE_DLL;
    if (!built.empty() && built[0] == '/')
        built = "Z:" + built; // a build path under Wine
    return built;
}

// A path for a Windows program: build paths are Unix ones under Wine.
std::string WinePath(std::string path) {
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    return path;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The command-line tool importing `mail` into the store's Inbox, as a second
// process; true when it ran and succeeded.
bool ImportInOtherProcess(const std::string& store, const std::string& mail) {
    std::string command = "\"" + WinePath(BENCH_MAILSTORE_CLI) + "\" import \"" + WinePath(store) +
                          "\" Inbox \"" + WinePath(mail) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

// Asks a window for its item count every millisecond from a thread of its own,
// as an accessibility tool or a test probe would, until destroyed.
class Poller {
  public:
    explicit Poller(HWND list) : list_(list) {
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &Poller::Run, this, 0, nullptr);
    }
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;
    ~Poller() {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(stop_);
    }
    size_t asked = 0;

  private:
    static DWORD WINAPI Run(void* self) {
        auto* poller = static_cast<Poller*>(self);
        while (WaitForSingleObject(poller->stop_, 1) == WAIT_TIMEOUT) {
            DWORD_PTR count = 0;
            SendMessageTimeoutW(poller->list_, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 5000, &count);
            ++poller->asked;
        }
        return 0;
    }
    HWND list_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

// Builds the store of `base` messages in `dir` and times importing `burst` more
// alone, durable, into a folder of its own that goes again.
bool BuildStore(const std::string& dir, size_t base, size_t burst, double* buildMs,
                double* importAloneMs) {
    mailstore::FolderId inbox = 0;
    NoSyncFileSystem noSync;
    mailstore::OpenOptions options;
    options.create = true;
    options.fs = &noSync;
    std::unique_ptr<mailstore::Store> builder;
    if (!mailstore::Store::Open(dir, options, &builder).ok() ||
        !builder->FindFolderByPath("Inbox", &inbox).ok()) {
        std::fprintf(stderr, "cannot create the store in %s\n", dir.c_str());
        return false;
    }
    double start = bench::Now();
    if (!Import(*builder, inbox, 0, base, 5000, nullptr))
        return false;
    *buildMs = bench::Now() - start;
    builder.reset();
    std::unique_ptr<mailstore::Store> alone;
    mailstore::FolderId scratch = 0;
    if (!mailstore::Store::Open(dir, mailstore::OpenOptions(), &alone).ok() ||
        !alone->CreateFolder(mailstore::kRootFolder, "Scratch", &scratch).ok())
        return false;
    start = bench::Now();
    if (!Import(*alone, scratch, base, burst, kCommitBatch, nullptr))
        return false;
    *importAloneMs = bench::Now() - start;
    return alone->DeleteFolder(scratch).ok();
}

} // namespace

int main(int argc, char** argv) {
    size_t base = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const size_t burst = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    const std::string prebuilt = Environment("BRIS_BENCH_STORE_BURST");
    const std::string burstMail = prebuilt.empty() ? "" : Environment("BRIS_BENCH_BURST_MAIL");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    const TempDir temp;
    const std::string dirText = prebuilt.empty() ? temp.Text() : prebuilt;
    int failures = 0;
    {
        mailstore::FolderId inbox = 0;
        double buildMs = 0, importAloneMs = 0;
        if (prebuilt.empty() && !BuildStore(dirText, base, burst, &buildMs, &importAloneMs))
            return 1;
        SetEnvironmentVariableA("MAILSTORE_DIR", dirText.c_str());
        ServerDll dll(DllPath());
        if (!dll.Loaded()) {
            std::fprintf(stderr, "cannot load %s\n", DllPath().c_str());
            return 1;
        }
        mailstore::OpenOptions options;
        std::unique_ptr<mailstore::Store> writer; // the other process
        std::vector<mailstore::MessageId> existing;
        if (!mailstore::Store::Open(dirText, options, &writer).ok() ||
            !writer->FindFolderByPath("Inbox", &inbox).ok() ||
            !writer->GetMessageIds(inbox, &existing).ok()) {
            std::fprintf(stderr, "cannot open the store a second time\n");
            return 1;
        }
        base = existing.size();

        bench::WalkCounts counts;
        TBrisvanderMain window([&](IStoreNamespace** result) {
            IStoreNamespace* inner = nullptr;
            HRESULT hr = dll.Create(&inner);
            if (SUCCEEDED(hr)) {
                *result = new bench::CountingNamespace(inner, &counts);
                inner->Release();
            }
            return hr;
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
                    "%zu (ms)%s\n",
                    base, burst,
                    burstMail.empty() ? "" : "; new mail from a second process, list polled");
        if (prebuilt.empty())
            std::printf("building the store: %.1f; ", buildMs);
        std::printf("window open and filled: %.1f%s\n", openMs, opened ? "" : " (TIMED OUT)");
        std::printf("one enumeration (best of 3): %.1f (%zu messages%s)\n", enumerateMs, seen,
                    seen == base ? "" : ", WRONG");
        if (prebuilt.empty())
            std::printf("import of %zu alone, %zu per commit, no window: %.1f\n", burst,
                        kCommitBatch, importAloneMs);
        std::printf("%-14s %10s %10s %14s %6s %8s %10s %10s\n", "burst", "writer ms", "ms",
                    "enumerations", "check", "walks", "walk ms", "lag ms");
        bench::WalkCounts before = counts;
        auto report = [&](const char* name, const Writer& change, double ms, bool ok) {
            failures += !ok;
            const double lag = start + ms - change.end;
            std::printf("%-14s %10.1f %10.1f %14.2f %6s %8zu %10.1f %10.1f\n", name, change.ms, ms,
                        enumerateMs > 0 ? ms / enumerateMs : 0.0, ok ? "ok" : "WRONG",
                        counts.walks - before.walks, counts.ms - before.ms, lag);
            std::fflush(stdout);
            before = counts;
        };

        std::vector<mailstore::MessageId> fresh;
        size_t logged = Count(window.LogText(), "NEWMSGS MsgId=");
        bool ok = false;
        double ms = 0;
        {
            std::unique_ptr<Poller> poller;
            if (!burstMail.empty())
                poller = std::make_unique<Poller>(scale_bench::FindList(window.Handle()));
            start = bench::Now();
            Writer imported([&] {
                if (!burstMail.empty())
                    return ImportInOtherProcess(dirText, burstMail);
                return Import(*writer, inbox, base + burst, burst, kCommitBatch, &fresh);
            });
            ok = PumpUntil(window, [&] {
                return rows.Count() == base + burst &&
                       Count(window.LogText(), "NEWMSGS MsgId=") == logged + burst;
            });
            ms = bench::Now() - start;
            imported.Join();
            report("NEWMSGS", imported, ms, ok && imported.ok);
        }
        if (!burstMail.empty()) {
            bool changed = false;
            std::vector<mailstore::MessageId> now;
            writer->Refresh(&changed);
            writer->GetMessageIds(inbox, &now);
            const std::unordered_set<MESSAGEID> old(existing.begin(), existing.end());
            for (mailstore::MessageId id : now)
                if (!old.count(id))
                    fresh.push_back(id);
        }

        const std::unordered_set<MESSAGEID> freshIds(fresh.begin(), fresh.end());
        logged = Count(window.LogText(), "MARKEDASREAD MsgId=");
        start = bench::Now();
        Writer marked([&] { return writer->MarkRead(inbox, fresh, true).ok(); });
        ok = PumpUntil(window, [&] {
            return Count(window.LogText(), "MARKEDASREAD MsgId=") == logged + burst;
        });
        ms = bench::Now() - start;
        marked.Join();
        size_t read = 0;
        for (size_t i = 0; i < rows.Count(); ++i)
            read += freshIds.count(rows.At(i).id) && rows.At(i).image == 0;
        report("MARKEDASREAD", marked, ms, ok && marked.ok && read == burst);

        logged = Count(window.LogText(), "DELETEMSGS MsgId=");
        start = bench::Now();
        Writer deleted([&] { return writer->DeleteMessages(inbox, fresh).ok(); });
        ok = PumpUntil(window, [&] {
            return rows.Count() == base &&
                   Count(window.LogText(), "DELETEMSGS MsgId=") == logged + burst;
        });
        ms = bench::Now() - start;
        deleted.Join();
        size_t left = 0;
        for (size_t i = 0; i < rows.Count(); ++i)
            left += freshIds.count(rows.At(i).id);
        report("DELETEMSGS", deleted, ms, ok && deleted.ok && left == 0);
        window.Destroy();
    }
    CoUninitialize();
    return failures ? 2 : 0;
}
