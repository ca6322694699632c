// Helpers for the store server's tests: a window that records the store's
// messages as a receiver would see them, a message pump, a temporary directory.
#pragma once

#include "StoreApi.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace comtest {

struct Received {
    UINT message = 0;
    bool allMessages = false; // WParam was -1
    MESSAGEID id = 0;         // the id carried, read while the handler ran
    FOLDERNOTIFY record{};    // copy of the folder record
    const void* recordAddress = nullptr;
    const MESSAGEID* idAddress = nullptr; // where WParam pointed, if it did
};

// A top-level hidden window that records the five store messages, reading the
// pointers they carry inside the handler and freeing folder records.
class RecorderWindow {
  public:
    RecorderWindow();
    RecorderWindow(const RecorderWindow&) = delete;
    RecorderWindow& operator=(const RecorderWindow&) = delete;
    ~RecorderWindow();

    HWND hwnd() const { return hwnd_; }
    void Destroy();

    std::vector<Received> received;
    // Runs inside the handler, after the message is recorded.
    std::function<void(const Received&)> onMessage;
    // Overwrite folder records before freeing them, to show a shared record.
    bool scribbleRecords = false;

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND hwnd_ = nullptr;
};

// Runs this thread's message loop until `done` or `timeoutMs` passes; true if done.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Runs the message loop for `ms` milliseconds.
void PumpFor(DWORD ms);

// A fresh, empty directory removed with its content at the end.
class TempDir {
  public:
    explicit TempDir(const wchar_t* tag);
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

} // namespace comtest
