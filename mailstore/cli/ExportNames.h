// What `mailstore export` makes of a message's record: its .eml name, mbox
// separator and Maildir name. The rules themselves are in mailformat/.
#pragma once

#include "ExportFormat.h"
#include "Store.h"

#include <string>
#include <string_view>

namespace mailstore::cli {

// "2026-12-07 08-00-00 Subject" (no extension); Date: first, else the received time.
std::string EmlBase(const MessageInfo& m);
// "From - Mon Dec  7 08:00:00 2026\n" in the received time.
std::string MboxSeparator(const MessageInfo& m);
// The Maildir name: delivery time, then the store order `seq`, then the flags.
std::string MaildirName(const MessageInfo& m, size_t seq);

} // namespace mailstore::cli
