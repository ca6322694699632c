// The reference count every object of the server keeps: the object is made with
// one reference and deletes itself when the last one goes.
#pragma once

#include <windows.h>

#include <atomic>

namespace mailstore::com {

template <typename Interface> class RefCounted : public Interface {
  public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  protected:
    // Virtual, so Release deletes the whole object; only Release deletes.
    virtual ~RefCounted() = default;

  private:
    std::atomic<ULONG> refs_{1};
};

} // namespace mailstore::com
