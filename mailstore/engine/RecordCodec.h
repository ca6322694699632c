// The bytes of what the store writes besides message sources: one committed
// change as a journal record's payload (Journal.h frames and checksums it), and
// the snapshot (State::EncodeSnapshot and State::DecodeSnapshot, defined beside
// these).
#pragma once

#include "State.h"

#include <string>
#include <string_view>

namespace mailstore::detail {

void EncodeTransaction(const Transaction& tx, std::string* out);
// False when the payload is not a well-formed change.
bool DecodeTransaction(std::string_view payload, Transaction* tx);

} // namespace mailstore::detail
