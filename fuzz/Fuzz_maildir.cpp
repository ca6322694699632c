// Maildir names: any name gives a known state and a sane time, and the names
// export gives are read back with the state and the second they were given.
#include "ExportNames.h"
#include "ImportFormats.h"

#include <cstdlib>
#include <cstring>
#include <string>

using namespace mailstore;
using namespace mailstore::cli;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    for (bool inNew : {false, true})
        if (MaildirState(name, inNew) & ~kKnownStateBits)
            std::abort();
    MaildirDelivery(name);
    if (size < 16)
        return 0;
    MessageInfo m;
    std::memcpy(&m.received, data, 8);
    std::memcpy(&m.state, data + 8, 4);
    std::memcpy(&m.id, data + 12, 4);
    m.state &= kKnownStateBits;
    const size_t seq = size;
    const std::string exported = MaildirName(m, seq);
    if (MaildirState(exported, false) != (m.state | 0) ||
        MaildirState(exported, true) != kStateUnread)
        std::abort();
    const int64_t secs = static_cast<int64_t>(m.received / 10000000ull) - 11644473600ll;
    const auto when = MaildirDelivery(exported);
    if (secs > 0 && secs < 100000000000ll) {
        if (!when || static_cast<int64_t>(*when / 10000000ull) - 11644473600ll != secs)
            std::abort();
    } else if (when) {
        std::abort();
    }
    return 0;
}
