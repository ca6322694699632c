#include "Module.h"

#include <atomic>

namespace mailstore::com {
namespace {
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
} // namespace

void ObjectCreated() {
    ++g_objects;
}
void ObjectDestroyed() {
    --g_objects;
}
void ServerLock(bool lock) {
    lock ? ++g_locks : --g_locks;
}
bool ModuleInUse() {
    return g_objects > 0 || g_locks > 0;
}

HINSTANCE ModuleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
    return module;
}

} // namespace mailstore::com

#include "HandleTable.h"

namespace mailstore::com {

uintptr_t NextHandleValue() {
    // Starts well away from 0 and small integers a caller might pass by mistake.
    static std::atomic<uintptr_t> next{0x5A000};
    return next += 4;
}

} // namespace mailstore::com
