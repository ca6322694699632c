// Runs an action once from inside the next message loop, such as a real modal
// dialog's own, so a test can click its buttons while it runs.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace storedouble {

inline std::function<void()>& PendingAction() {
    static std::function<void()> action;
    return action;
}

inline void CALLBACK RunPendingAction(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    auto run = std::move(PendingAction());
    PendingAction() = nullptr;
    if (run)
        run();
}

inline void Later(std::function<void()> action) {
    PendingAction() = std::move(action);
    SetTimer(nullptr, 0, 10, RunPendingAction);
}

} // namespace storedouble
