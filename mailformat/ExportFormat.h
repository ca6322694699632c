// What an export makes of a message's or folder's texts: file names every file
// system accepts, unique within one place, and mbox (mboxrd) text. No files here:
// the command-line tool writes them, the window hands them to a drop target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore {

// A name Windows takes for a device whatever follows its first dot (con,
// CONIN$, com1, lpt¹ ...).
bool IsReservedDeviceName(std::string_view name);

// UTF-8 text made fit for one file name on Windows and POSIX alike, at most
// maxBytes: no path parts, no control or direction-override characters, no
// leading dot, no trailing dot or blank, no device name. `fallback` when
// nothing is left.
std::string SafeName(std::string_view text, size_t maxBytes, std::string_view fallback);

// "2026-12-07 08-00-00 Subject" (no extension) for a FILETIME (0: "undated").
std::string EmlBase(uint64_t fileTime, std::string_view subject);

// "From - Mon Dec  7 08:00:00 2026\n" for a FILETIME (0: the Unix epoch).
std::string MboxSeparator(uint64_t fileTime);

// The names taken in one place, compared without case as Windows does.
class NameClaims {
  public:
    void Take(std::string_view name);
    // base + ext, or base + " (2)" + ext and so on: a name not taken yet. Each
    // of `others` (extensions) is reserved along with it.
    std::string Claim(const std::string& base, const std::string& ext,
                      const std::vector<std::string>& others = {});

  private:
    std::set<std::string> taken_;
};

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

// One message of an mbox file, its source fed in pieces: the separator, the
// quoted source, and a closing blank line (with the line break mbox needs when
// the source lacks one).
class MboxEntry {
  public:
    // The separator line; starts a new message.
    std::string Begin(uint64_t fileTime);
    void Feed(std::string_view piece, std::string* out);
    // The rest of the message; true when a line break had to be added.
    bool End(std::string* out);

  private:
    MboxQuoter quoter_;
    bool endedWithNewline_ = true;
};

} // namespace mailstore
