// The parts of a MIME message and their decoding: transfer encodings,
// charsets, encoded words and parameters, format=flowed, nested messages.
// Never fails: what cannot be read is shown as it is, and nesting and part
// counts are capped so no input costs more than a pass or two over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mailformat {

constexpr int kMaxDepth = 32;      // multiparts and nested messages inside each other
constexpr size_t kMaxParts = 2000; // parts in one message, nested ones included

// A message's own header fields, as shown above its text.
struct Envelope {
    std::string from, to, cc, subject; // decoded, addresses as "Name <address>"
    uint64_t date = 0;                 // FILETIME (UTC) of Date:, 0 when none
};

struct MimePart {
    int parent = -1;
    int depth = 0;
    std::string type = "text";     // lower case
    std::string subtype = "plain"; // lower case
    std::string charset;           // as written
    std::string boundary;
    bool flowed = false;     // format=flowed
    bool delSp = false;      // delsp=yes
    std::string encoding;    // Content-Transfer-Encoding, lower case
    std::string name;        // file name (RFC 2231 or 2047 decoded), UTF-8
    bool attachment = false; // Content-Disposition: attachment
    bool isMessage = false;  // the whole message or a message/rfc822 part's content
    Envelope envelope;       // when isMessage
    size_t bodyStart = 0;    // the (still encoded) body within the source
    size_t bodyEnd = 0;
    std::vector<int> children;

    bool Is(std::string_view t, std::string_view s) const { return type == t && subtype == s; }
    std::string ContentType() const { return type + "/" + subtype; }
};

struct MimeTree {
    std::vector<MimePart> parts; // parts[0] is the message
    bool capped = false;         // the depth or part cap left some unread
};

MimeTree ParseMime(std::string_view source);

// The body's bytes with the transfer encoding undone (base64, quoted-printable;
// anything else as it is). Bad base64 characters are skipped; a cut quantum
// gives the bytes it has.
std::string DecodeTransfer(std::string_view body, std::string_view encoding);
// The length DecodeTransfer would return, without building it.
uint64_t DecodedSize(std::string_view body, std::string_view encoding);

// A text part's content as UTF-8: decoded, charset converted (unknown ones as
// UTF-8 or windows-1252), flowed lines joined, line ends as "\n". At most
// `maxEncoded` bytes of the body are read.
std::string PartText(std::string_view source, const MimePart& part,
                     size_t maxEncoded = static_cast<size_t>(-1));

// Joins format=flowed lines ("\n" line ends).
std::string JoinFlowed(std::string_view text, bool delSp);

// Reads a parameter list ("; name=value; name*0*=..."); RFC 2231 continuations
// and charsets and RFC 2047 words are decoded. Returns the value of `wanted`
// (case-insensitive) as UTF-8, empty when missing.
std::string HeaderParameter(std::string_view fieldValue, std::string_view wanted);

// What the reading pane shows of a message.
struct Attachment {
    int part = 0;
    std::string name; // as the message gives it, may be empty
    std::string contentType;
    uint64_t size = 0; // decoded
};

struct Reading {
    std::string text; // header blocks and bodies, UTF-8, "\n" line ends
    std::vector<Attachment> attachments;
    bool textCut = false; // the text was longer than the cap
};

// `dateText` turns a FILETIME into the text shown for Date:.
using DateFormatter = std::string (*)(uint64_t fileTime);
Reading Render(std::string_view source, const MimeTree& tree, DateFormatter dateText,
               size_t maxText = 2u << 20);

} // namespace mailformat
