// What `mailstore export` makes of a message's texts: file names every file
// system accepts, the mbox separator line and mboxrd quoting. No files here.
#pragma once

#include "Store.h"

#include <string>
#include <string_view>

namespace mailstore::cli {

// A name Windows takes for a device whatever follows its first dot (con,
// CONIN$, com1, lpt¹ ...).
bool IsReservedDeviceName(std::string_view name);

// Text made fit for one file name on Windows and POSIX alike, at most maxBytes;
// `fallback` when nothing is left.
std::string SafeName(const std::string& text, size_t maxBytes, const std::string& fallback);

// "2026-12-07 08-00-00 Subject" (no extension); Date: first, else the received time.
std::string EmlBase(const MessageInfo& m);
// "From - Mon Dec  7 08:00:00 2026\n" in the received time.
std::string MboxSeparator(const MessageInfo& m);
// The Maildir name: delivery time, then the store order `seq`, then the flags.
std::string MaildirName(const MessageInfo& m, size_t seq);

// Adds mboxrd quoting: one more '>' before every line that reads ">*From ".
// Text may come in pieces of any size.
class MboxQuoter {
  public:
    void Feed(std::string_view in, std::string* out);
    // The held back start of a last line.
    void Flush(std::string* out);

  private:
    bool atLineStart_ = true;
    std::string pending_;
};

} // namespace mailstore::cli
