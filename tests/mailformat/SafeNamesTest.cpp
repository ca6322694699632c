// Attachment names as file names: nothing a name says can leave the folder,
// name a device or disguise its type.
#include "SafeNames.h"

#include <gtest/gtest.h>

namespace mailformat {
namespace {

TEST(SafeFileName, StripsPathsDevicesAndDisguises) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"report.pdf", "report.pdf"},
        {"../../etc/passwd", "passwd"},
        {"C:\\Windows\\system32\\evil.dll", "evil.dll"},
        {"a<b>c:d\"e|f?g*h.txt", "a_b_c_d_e_f_g_h.txt"},
        {"con.txt", "_con.txt"},
        {"LPT1", "_LPT1"},
        {"com\xC2\xB9.log", "_com\xC2\xB9.log"},
        {".hidden", "_hidden"},
        {"..", "attachment"},
        {"trail. . ", "trail"},
        {"tab\there\x01.txt", "tab here .txt"},
        {"photo\xE2\x80\xAEgpj.exe", "photogpj.exe"},
        {"x\xE2\x81\xA6y\xE2\x80\x8F.txt", "xy.txt"},
        {"caf\xE9.txt", "caf\xC3\xA9.txt"},
        {"", "attachment"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeFileName(c.in, 200, "attachment"), c.out) << c.in;
}

TEST(SafeFileName, LongNamesKeepTheirExtension) {
    std::string name(300, 'a');
    name += ".pdf";
    std::string safe = SafeFileName(name, 100, "x");
    EXPECT_EQ(safe.size(), 100u);
    EXPECT_EQ(safe.substr(96), ".pdf");
    std::string wide;
    for (int i = 0; i < 100; ++i)
        wide += "\xE6\x97\xA5";
    EXPECT_EQ(SafeFileName(wide, 10, "x"), "\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5");
}

} // namespace
} // namespace mailformat
