#include "Status.h"
#include "Store.h"

#include <chrono>

namespace mailstore {

const char* ErrorCodeName(ErrorCode code) {
    switch (code) {
    case ErrorCode::Ok:
        return "success";
    case ErrorCode::UnknownFolder:
        return "unknown folder";
    case ErrorCode::UnknownMessage:
        return "unknown message";
    case ErrorCode::InvalidName:
        return "invalid name";
    case ErrorCode::NameExists:
        return "name exists";
    case ErrorCode::SpecialFolder:
        return "special folder";
    case ErrorCode::IntoOwnSubtree:
        return "move into own sub-tree";
    case ErrorCode::InvalidArgument:
        return "invalid argument";
    case ErrorCode::NotAStore:
        return "not a store";
    case ErrorCode::AlreadyExists:
        return "already exists";
    case ErrorCode::Corrupt:
        return "damaged store";
    case ErrorCode::Busy:
        return "store busy";
    case ErrorCode::Io:
        return "i/o error";
    case ErrorCode::TooLarge:
        return "too large";
    }
    return "unknown error";
}

const char* EventKindName(EventKind kind) {
    switch (kind) {
    case EventKind::FolderCreated:
        return "FolderCreated";
    case EventKind::FolderRenamed:
        return "FolderRenamed";
    case EventKind::FolderMoved:
        return "FolderMoved";
    case EventKind::FolderDeleted:
        return "FolderDeleted";
    case EventKind::MessageAdded:
        return "MessageAdded";
    case EventKind::MessageDeleted:
        return "MessageDeleted";
    case EventKind::MessageMarkedRead:
        return "MessageMarkedRead";
    case EventKind::MessageMarkedUnread:
        return "MessageMarkedUnread";
    case EventKind::MessageFlagChanged:
        return "MessageFlagChanged";
    case EventKind::FolderCountsChanged:
        return "FolderCountsChanged";
    }
    return "?";
}

namespace {
// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
} // namespace

uint64_t FileTimeFromUtc(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return 0;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap))
        return 0;
    int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    int64_t secs = days * 86400 + hour * 3600 + minute * 60 + second;
    int64_t ticks = secs * 10000000 + static_cast<int64_t>(kUnixEpochTicks);
    return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}

uint64_t FileTimeNow() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    auto ticks = std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 10;
    return static_cast<uint64_t>(ticks) + kUnixEpochTicks;
}

} // namespace mailstore
