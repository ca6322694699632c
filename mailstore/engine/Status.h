// Result of every engine operation: a code the caller can switch on and a text
// a person can read. Engine calls never throw for expected failures.
#pragma once

#include <string>
#include <utility>

namespace mailstore {

enum class ErrorCode {
    Ok = 0,
    UnknownFolder,   // no folder with that id
    UnknownMessage,  // no message with that id in that folder
    InvalidName,     // empty, longer than 255 bytes, control characters or bad UTF-8
    NameExists,      // a sibling already has that exact name
    SpecialFolder,   // special folders cannot be renamed, moved or deleted
    IntoOwnSubtree,  // a folder cannot move under itself or a descendant
    InvalidArgument, // anything else the caller got wrong (root as target, bad state bits)
    NotAStore,       // the directory holds no store (open without create)
    AlreadyExists,   // create asked for a store where one already exists
    Corrupt,         // damaged store files; the message names the file and offset
    Busy,            // another process held the store lock for too long
    Io,              // the file system refused; the message says which file and why
    TooLarge,        // a message source of 4 GiB or more
};

class Status {
  public:
    Status() = default;
    Status(ErrorCode code, std::string message) : code_(code), message_(std::move(message)) {}

    static Status Success() { return Status(); }

    bool ok() const { return code_ == ErrorCode::Ok; }
    ErrorCode code() const { return code_; }
    // Empty on success; otherwise one line without a trailing newline.
    const std::string& message() const { return message_; }

  private:
    ErrorCode code_ = ErrorCode::Ok;
    std::string message_;
};

// Short English name of a code, e.g. "unknown folder".
const char* ErrorCodeName(ErrorCode code);

} // namespace mailstore
