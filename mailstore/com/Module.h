// Module-wide state: the count of live objects and server locks that decides
// whether the DLL may unload, and the guard every COM method runs inside.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <new>
#include <utility>

// Returns the HRESULT of `expr` from the calling function when it is a failure.
#define RETURN_IF_FAILED(expr)                                                                     \
    do {                                                                                           \
        const HRESULT hrReturned_ = (expr);                                                        \
        if (FAILED(hrReturned_)) {                                                                 \
            return hrReturned_;                                                                    \
        }                                                                                          \
    } while (false)

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

// Makes an object and hands out its interface `riid`; without one the object
// goes again at once.
template <class Object, class... Args>
HRESULT CreateObject(REFIID riid, void** ppv, Args&&... args) {
    auto* object = new (std::nothrow) Object(std::forward<Args>(args)...);
    if (!object) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// QueryInterface for an object that answers each id in `ids` with `object`.
template <class Interface>
HRESULT HandOut(Interface* object, REFIID riid, std::initializer_list<IID> ids, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    for (const IID& id : ids) {
        if (riid == id) {
            *ppv = object;
            object->AddRef();
            return S_OK;
        }
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

} // namespace mailstore::com
