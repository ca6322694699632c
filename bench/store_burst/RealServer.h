// What the benchmarks on the real server share: the server DLL loaded
// without registration, a store seeded without waiting for the disk, a writer
// on a thread of its own as another process would be, a directory that goes.
#pragma once

#include "BenchSupport.h"
#include "Registration.h"
#include "Store.h"

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace realserver {

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

  private:
    static DWORD WINAPI Run(void* self) {
        auto* writer = static_cast<Writer*>(self);
        double start = bench::Now();
        writer->ok = writer->work_();
        writer->ms = bench::Now() - start;
        return 0;
    }
    std::function<bool()> work_;
    HANDLE thread_ = nullptr;
};

// The store's directory, removed again however the bench ends.
class TempDir {
  public:
    explicit TempDir(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                (name + "-" + std::to_string(GetCurrentProcessId()))) {
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

inline std::string DllPath() {
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

} // namespace realserver
