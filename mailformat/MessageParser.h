// Reads the few header fields the store shows from a message's source. Never
// fails: what cannot be parsed stays empty (or 0), and no input can crash it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore {

struct ParsedHeaders {
    std::string subject;   // decoded, UTF-8
    std::string from;      // display name, or the address when there is none
    std::string to;        // recipients' display names (or addresses) joined with "; "
    uint64_t sent = 0;     // FILETIME of Date:, 0 when missing or unparsable
    uint64_t received = 0; // FILETIME of the newest Received: header's date, or 0
    uint32_t priority = 3; // 1, 3 or 5
};

ParsedHeaders ParseHeaders(std::string_view source);

struct HeaderField {
    std::string name;
    std::string value; // unfolded, line ends removed
};

// The fields of the header block at the start of `source`, in order. Lines end
// with LF or CRLF; a line that starts with blank space continues the field
// before it. *bodyStart (when given) is where the body begins: past the blank
// line, or source.size() when there is none.
std::vector<HeaderField> SplitHeaderFields(std::string_view source, size_t* bodyStart);

// Decodes RFC 2047 encoded words (B and Q) in unstructured header text and turns
// the rest into UTF-8. Whitespace between adjacent encoded words is dropped.
std::string DecodeHeaderText(std::string_view raw);

// Display names of an address list, in order ("Alice Example", or the bare
// address for a mailbox without one).
std::string DisplayNames(std::string_view addressList, std::string_view separator);

// An address list as "Name <address>, address, ...", names decoded.
std::string FormatAddresses(std::string_view addressList);

// Parses a mail date ("Mon, 7 Dec 2026 08:26:54 +0100" and common variants).
bool ParseMailDate(std::string_view text, uint64_t* fileTime);

} // namespace mailstore
