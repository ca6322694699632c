// What `mailstore import` reads out of names and bytes: Maildir names, mbox
// files and their separator lines. No files here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore::cli {

// The state a Maildir name gives: flags after ":2," (or "!2,"): S seen, F
// flagged; new/ holds unseen mail.
uint32_t MaildirState(const std::string& name, bool inNew);
// The delivery time a Maildir name starts with, as a FILETIME.
std::optional<uint64_t> MaildirDelivery(std::string_view name);

// Where the first "From " line of an mbox starts, after a byte-order mark and
// blank lines; npos when the text is not an mbox.
size_t MboxStart(std::string_view head);
// A first line such as "Received: ..." or "From: ...".
bool LooksLikeMail(std::string_view head);
// The time on an mbox separator line: "From sender Mon Dec  7 08:00:00 2026".
std::optional<uint64_t> SeparatorTime(std::string_view line);

// Splits an mbox at its "From " lines, undoing the ">From " quoting of bodies,
// one message at a time. The text may come in pieces of any size.
class MboxSplitter {
  public:
    struct Message {
        std::string source;    // empty for an empty message
        std::string separator; // its "From " line
    };

    explicit MboxSplitter(uint64_t maxMessage) : max_(maxMessage) {}
    // Appends the messages completed by `text` to *done. False once a message
    // grew past the limit: it is dropped, and the rest of the text with it.
    bool Feed(std::string_view text, std::vector<Message>* done);
    // The end of the text: its last message.
    bool Finish(std::vector<Message>* done);

  private:
    bool Line(std::string_view line, std::vector<Message>* done);
    void Complete(std::vector<Message>* done);

    uint64_t max_;
    std::string partial_; // a line not yet ended
    Message current_;
    bool first_ = true;
    bool tooLarge_ = false;
};

} // namespace mailstore::cli
