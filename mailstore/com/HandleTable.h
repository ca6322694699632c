// Enumeration handles: opaque values that map to one object's open
// enumerations. Values are unique in the process, so a handle given out by one
// object, or one already closed, is never found in another table.
#pragma once

#include "StoreApi.h"

#include <cstdint>
#include <map>
#include <memory>

namespace mailstore::com {

// Process-wide, never repeats while the process runs.
uintptr_t NextHandleValue();

template <class State> class HandleTable {
  public:
    HandleTable() = default;
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    HENUMSTORE Add(std::unique_ptr<State> state) {
        const uintptr_t value = NextHandleValue();
        items_.emplace(value, std::move(state));
        return reinterpret_cast<HENUMSTORE>(value);
    }

    // Null for a handle this table did not give out or has closed.
    State* Find(HENUMSTORE handle) const {
        auto it = items_.find(reinterpret_cast<uintptr_t>(handle));
        return it == items_.end() ? nullptr : it->second.get();
    }

    bool Remove(HENUMSTORE handle) {
        return items_.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
    }

    size_t size() const { return items_.size(); }

  private:
    std::map<uintptr_t, std::unique_ptr<State>> items_;
};

} // namespace mailstore::com
