// Module-wide state: the count of live objects and server locks that decides
// whether the DLL may unload, and the guard every COM method runs inside.
#pragma once

#include <windows.h>

#include <new>

namespace mailstore::com {

void ObjectCreated();
void ObjectDestroyed();
void ServerLock(bool lock);
// True while any object or server lock is alive.
bool ModuleInUse();

// The module (DLL or test program) this code is linked into.
HINSTANCE ModuleInstance();

// Runs `body`; an exception never leaves a COM method or window procedure, it
// becomes a failure status instead.
template <class Body> HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace mailstore::com
