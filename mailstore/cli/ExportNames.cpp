#include "ExportNames.h"

#include <cstdio>

namespace mailstore::cli {

namespace {

#ifdef _WIN32
constexpr char kInfoSeparator = '!'; // ':' cannot be in a Windows file name
#else
constexpr char kInfoSeparator = ':';
#endif

int64_t UnixSeconds(uint64_t fileTime) {
    return static_cast<int64_t>(fileTime / 10000000ull) - 11644473600ll;
}

} // namespace

std::string EmlBase(const MessageInfo& m) {
    return mailstore::EmlBase(m.sent ? m.sent : m.received, m.subject);
}

std::string MboxSeparator(const MessageInfo& m) {
    return mailstore::MboxSeparator(m.received ? m.received : m.sent);
}

std::string MaildirName(const MessageInfo& m, size_t seq) {
    const uint64_t when = m.received ? m.received : m.sent;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%lld.M%06zuI%u.mailstore",
                  static_cast<long long>(UnixSeconds(when)), seq, static_cast<unsigned>(m.id));
    std::string name = buf;
    name += kInfoSeparator;
    name += "2,";
    if (m.state & kStateFlagged)
        name += 'F';
    if (!(m.state & kStateUnread))
        name += 'S';
    return name;
}

} // namespace mailstore::cli
