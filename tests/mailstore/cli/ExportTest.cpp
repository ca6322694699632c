// Export in each format, read back by import; file names; the report.
#include "CliFixture.h"

#include <set>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace mailstore::cli {
namespace {

using ::testing::HasSubstr;

class ExportTest : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(Call({"init", store_}).code, 0);
    }
    // The samples and the odd cases export has to carry through unchanged.
    void MakeCorpus() {
        Write("odd/1.eml", "Subject: from lines\n\nFrom the start\n>From quoted\n>>From twice\n"
                           "From\nFrom:\n\nFrom \n");
        Write("odd/2.eml", "Subject: crlf\r\nDate: Mon, 07 Dec 2026 08:00:00 +0000\r\n\r\n"
                           "From here\r\n>From there\r\n\r\n");
        Write("odd/3.eml", "Subject: open end\n\nlast line");
        Write("odd/4.eml", "Subject: Gr\xfc\xdf"
                           "e 8bit\nFrom: J\xf6rg <j@example.org>\n\nb\xe4r\n");
        Write("odd/5.eml", "Subject: after it\n\n\n\n");
        Write("sub/1.eml", "Subject: nested\n\nFrom below\n");
        ASSERT_EQ(
            Call({"import", "--skip-other", store_, "Inbox", BRIS_SAMPLES_DIR, Path("odd")}).code,
            0);
        ASSERT_EQ(
            Call({"import", "--create", store_, "Inbox/Sub", Path("sub/1.eml"), Path("odd/3.eml")})
                .code,
            0);
        ASSERT_EQ(Call({"mark", store_, "Inbox", "read", "1", "2", "10"}).code, 0);
        ASSERT_EQ(Call({"flag", store_, "Inbox", "on", "2", "3"}).code, 0);
        ASSERT_EQ(Call({"flag", store_, "Inbox/Sub", "on", "15"}).code, 0);
    }
    // Imports an export of Inbox (with Sub) into a new store.
    std::map<std::string, std::vector<Kept>>
    ReadBack(const std::string& format, const std::string& top, const std::string& sub) {
        const std::string copy = Path("copy-" + format);
        EXPECT_EQ(Call({"init", copy}).code, 0);
        Result r = Call({"import", copy, "Inbox", Path(top)});
        EXPECT_EQ(r.code, 0) << r.out;
        r = Call({"import", "--create", copy, "Inbox/Sub", Path(sub)});
        EXPECT_EQ(r.code, 0) << r.out;
        return Contents(copy);
    }
    static std::vector<Kept> Sorted(std::vector<Kept> v, bool keepState) {
        for (Kept& s : v)
            s.state = keepState ? s.state : 0;
        std::sort(v.begin(), v.end());
        return v;
    }
    // File names under a directory, recursively, relative to it.
    std::vector<std::string> Tree(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& e : fsys::recursive_directory_iterator(root_ / dir))
            names.push_back(fsys::relative(e.path(), root_ / dir).generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ExportTest, EveryFormatReadsBackTheSameSources) {
    MakeCorpus();
    const auto original = Contents(store_);
    struct Case {
        std::string format, top, sub;
        bool states;
    };
    for (const Case& c :
         {Case{"eml", "eml", "eml/Sub", false}, Case{"maildir", "maildir", "maildir/Sub", true},
          Case{"mbox", "mbox/Inbox.mbox", "mbox/Inbox/Sub.mbox", false}}) {
        SCOPED_TRACE(c.format);
        Result r =
            Call({"export", store_, "Inbox", Path(c.format), "--format", c.format, "--recursive"});
        ASSERT_EQ(r.code, 0) << r.out << r.err;
        EXPECT_THAT(r.out, HasSubstr("(2 folders)"));
        EXPECT_THAT(r.out, HasSubstr(": 15 messages in the store, 15 written in "));
        // Sub-directories are read into the folder given: Sub goes on its own.
        if (c.format != "mbox")
            fsys::rename(root_ / c.sub, root_ / (c.format + "-Sub"));
        auto back = ReadBack(c.format, c.top, c.format != "mbox" ? c.format + "-Sub" : c.sub);
        auto expected = original;
        if (c.format == "mbox") {
            // mbox cannot keep a last line without its break.
            EXPECT_THAT(r.out, HasSubstr("Note: 2 messages did not end with a line break"));
            for (auto& [folder, messages] : expected)
                for (Kept& s : messages)
                    s.source += s.source == "Subject: open end\n\nlast line" ? "\n" : "";
        }
        for (const char* folder : {"Inbox", "Inbox/Sub"})
            EXPECT_EQ(Sorted(back[folder], c.states), Sorted(expected[folder], c.states)) << folder;
        EXPECT_EQ(back.size(), original.size());
    }
    // The states are in the Maildir's names.
    std::set<std::string> flags;
    for (const auto& e : fsys::directory_iterator(root_ / "maildir" / "cur")) {
        const std::string name = e.path().filename().string();
        flags.insert(name.substr(name.rfind("2,") + 2));
    }
    EXPECT_EQ(flags, (std::set<std::string>{"", "F", "FS", "S"}));
}

bool SafeOnWindowsAndPosix(const std::string& name) {
    static const std::set<std::string> kDevices = {"con",  "prn",  "aux",    "nul",
                                                   "com1", "lpt1", "conin$", "conout$"};
    std::string base = name.substr(0, name.find('.'));
    std::transform(base.begin(), base.end(), base.begin(), ::tolower);
    if (name.empty() || name.size() > 150 || name[0] == '.' || name.back() == '.' ||
        name.back() == ' ' || kDevices.count(base))
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || std::string("<>:\"/\\|?*").find(name[i]) != std::string::npos)
            return false;
        if (c == 0xC2 && i + 1 < name.size() &&
            (static_cast<unsigned char>(name[i + 1]) & 0xE0) == 0x80)
            return false;
    }
    return true;
}

TEST_F(ExportTest, FileNamesAreSafeBoundedAndUnique) {
    const std::vector<std::string> subjects = {"con",
                                               "a/b",
                                               "..",
                                               std::string(299, 'x') + "\xc3\xa9",
                                               "twice",
                                               "twice",
                                               "tab\there\x01 bell =?utf-8?q?=C2=85?=",
                                               "nul",
                                               "ends in dots...",
                                               "",
                                               "Con"};
    std::vector<std::string> files;
    for (size_t i = 0; i < subjects.size(); ++i) {
        Write("in/" + std::to_string(i) + ".eml",
              "Subject: " + subjects[i] + "\nDate: Mon, 07 Dec 2026 08:00:00 +0000\n\n" +
                  std::to_string(i) + "\n");
        files.push_back(Path("in/" + std::to_string(i) + ".eml"));
    }
    files.insert(files.begin(), "Inbox");
    files.insert(files.begin(), store_);
    files.insert(files.begin(), "import");
    ASSERT_EQ(Call(files).code, 0);
    // Folders named like devices, dots and separators, each with a message.
    for (const std::string folder : {"con", "..", "a\\b:c", "trailing. ", "CONIN$", "conout$"}) {
        ASSERT_EQ(Call({"mkdir", store_, "Inbox/x"}).code, 0);
        ASSERT_EQ(Call({"rename", store_, "Inbox/x", folder}).code, 0) << folder;
        ASSERT_EQ(Call({"copy", store_, "Inbox", "Inbox/" + folder, "1"}).code, 0);
    }
    ASSERT_EQ(Call({"mkdir", store_, "Inbox/x"}).code, 0);
    ASSERT_EQ(Call({"rename", store_, "Inbox/x", "a/b"}).code, 0);

    Result r = Call({"export", store_, "Inbox", Path("out"), "--recursive"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const std::vector<std::string> first = Tree("out");
    std::set<std::string> lower;
    size_t emls = 0;
    for (const std::string& path : first) {
        SCOPED_TRACE(path);
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_TRUE(SafeOnWindowsAndPosix(name));
        std::string l = path;
        std::transform(l.begin(), l.end(), l.begin(), ::tolower);
        EXPECT_TRUE(lower.insert(l).second) << "unique without case";
        emls += path.size() > 4 && path.compare(path.size() - 4, 4, ".eml") == 0;
    }
    EXPECT_EQ(emls, subjects.size() + 6);
    EXPECT_EQ(first.size(), emls + 7); // and the seven folders' directories
    EXPECT_TRUE(fsys::exists(root_ / "out" / "2026-12-07 08-00-00 twice.eml"));
    EXPECT_TRUE(fsys::exists(root_ / "out" / "2026-12-07 08-00-00 twice (2).eml"));
    EXPECT_TRUE(fsys::exists(root_ / "out" / "_con"));
    EXPECT_TRUE(fsys::exists(root_ / "out" / "a_b"));
    EXPECT_TRUE(fsys::exists(root_ / "out" / "_CONIN$"));

    // A second export into the same place overwrites nothing and leaves no temporary file.
    const auto inbox = Contents(store_)["Inbox"];
    std::ofstream(root_ / "out" / "2026-12-07 08-00-00 twice.eml", std::ios::binary) << "mine";
    r = Call({"export", store_, "Inbox", Path("out"), "--recursive"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    std::ifstream kept(root_ / "out" / "2026-12-07 08-00-00 twice.eml", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "mine");
    const std::vector<std::string> second = Tree("out");
    EXPECT_EQ(second.size(), 2 * first.size());
    for (const std::string& path : second)
        EXPECT_EQ(path.find(".part"), std::string::npos) << path;
}

TEST_F(ExportTest, ReportsWhatItLeftOut) {
    Write("in/a.eml", "Subject: kept\n\nkept\n");
    Write("in/b.eml", "Subject: lost\n\nunique body of the lost one\n");
    Write("in/c.eml", "Subject: kept too\n\nkept\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("in")}).code, 0);
    for (const auto& e : fsys::recursive_directory_iterator(root_ / "store")) {
        std::ifstream f(e.path(), std::ios::binary);
        if (e.is_regular_file() &&
            std::string(std::istreambuf_iterator<char>(f), {})
                    .find("unique body of the lost one") != std::string::npos) {
            f.close();
            fsys::remove(e.path());
        }
    }
    Result r = Call({"export", store_, "Inbox", Path("out")}, true);
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.out, HasSubstr(": 3 messages in the store, 2 written in 2 files.\nLeft out 1:\n"
                                 "  Inbox #2 \"lost\": "));
    EXPECT_THAT(r.err, HasSubstr("] 3/3"));
    EXPECT_EQ(Tree("out").size(), 2u);
    // mbox: the folder's one file cannot be whole, so all three are left out.
    r = Call({"export", store_, "Inbox", Path("mbox"), "--format=mbox"});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.out, HasSubstr("0 written in 0 files.\nLeft out 3:"));
    EXPECT_TRUE(Tree("mbox").empty());
}

// What an interrupted run leaves (a temporary file, some finished files) is
// never touched, and the next run still exports every message.
TEST_F(ExportTest, LeftoversOfAnInterruptedRunAreKeptAndTheNextRunIsWhole) {
    for (const char* n : {"a", "b", "c"})
        Write(std::string("in/") + n + ".eml", std::string("Subject: ") + n +
                                                   "\nDate: Mon, 07 Dec 2026 08:00:00 +0000\n\n" +
                                                   n + "\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("in")}).code, 0);
    const std::map<std::string, std::string> leftovers = {
        {"eml/2026-12-07 08-00-00 a.eml.part", "half of a"},
        {"eml/2026-12-07 08-00-00 b.eml", "b, finished"},
        {"mbox/Inbox.mbox.part", "From - half"}};
    for (const auto& [name, bytes] : leftovers)
        Write(name, bytes);
    Result r = Call({"export", store_, "Inbox", Path("eml")});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("3 written in 3 files."));
    EXPECT_EQ(Tree("eml"), (std::vector<std::string>{
                               "2026-12-07 08-00-00 a.eml", "2026-12-07 08-00-00 a.eml.part",
                               "2026-12-07 08-00-00 b (2).eml", "2026-12-07 08-00-00 b.eml",
                               "2026-12-07 08-00-00 c.eml"}));
    r = Call({"export", store_, "Inbox", Path("mbox"), "--format", "mbox"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(Tree("mbox"), (std::vector<std::string>{"Inbox.mbox", "Inbox.mbox.part"}));
    std::ifstream mbox(root_ / "mbox" / "Inbox.mbox", std::ios::binary);
    const std::string all(std::istreambuf_iterator<char>(mbox), {});
    for (const char* body : {"\n\na\n", "\n\nb\n", "\n\nc\n"})
        EXPECT_THAT(all, HasSubstr(body));
    for (const auto& [name, bytes] : leftovers) {
        std::ifstream f(root_ / name, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), bytes) << name;
    }
}

// A killed run's temporary files whose bytes start the files a later run
// makes whole go; one that is not such a start is not provably ours, and stays.
TEST_F(ExportTest, PartialCopiesOfAKilledRunGoOnceTheirFilesAreWhole) {
    const std::string source = "Subject: a\nDate: Mon, 07 Dec 2026 08:00:00 +0000\n\nbody of a\n";
    Write("in/a.eml", source);
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("in")}).code, 0);
    const std::string token = ".0123456789abcdef";
    Write("eml/2026-12-07 08-00-00 a.eml" + token + ".part", source.substr(0, 20));
    Write("eml/2026-12-07 08-00-00 a.eml.fedcba9876543210.part", "not the start of a");
    Write("mbox/Inbox.mbox" + token + ".part", "From - ");
    Write("maildir/tmp/x.eml" + token, source.substr(0, 5)); // no such whole file: stays
    Result r = Call({"export", store_, "Inbox", Path("eml")});
    EXPECT_THAT(r.out, HasSubstr("Removed 1 partial copy an interrupted export left"));
    EXPECT_EQ(Tree("eml"),
              (std::vector<std::string>{"2026-12-07 08-00-00 a.eml",
                                        "2026-12-07 08-00-00 a.eml.fedcba9876543210.part"}));
    r = Call({"export", store_, "Inbox", Path("mbox"), "--format", "mbox"});
    EXPECT_THAT(r.out, HasSubstr("Removed 1 partial copy"));
    EXPECT_EQ(Tree("mbox"), (std::vector<std::string>{"Inbox.mbox"}));
    r = Call({"export", store_, "Inbox", Path("maildir"), "--format", "maildir"});
    EXPECT_THAT(r.out, Not(HasSubstr("Removed")));
    EXPECT_TRUE(fsys::exists(root_ / "maildir" / "tmp" / ("x.eml" + token)));
}

#ifndef _WIN32
// A destination that takes no more bytes fails every message alike: one line
// for that cause, one for the message whose source is gone.
TEST_F(ExportTest, FailuresAreReportedOncePerCause) {
    std::string mbox;
    for (int i = 0; i < 150; ++i)
        mbox += "From x@example.org Mon Dec  7 08:00:00 2026\nSubject: m" + std::to_string(i) +
                "\n\nunique body " + std::to_string(i) + "\n\n";
    Write("in.mbox", mbox);
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("in.mbox")}).code, 0);
    for (const auto& e : fsys::recursive_directory_iterator(root_ / "store")) {
        std::ifstream f(e.path(), std::ios::binary);
        if (e.is_regular_file() &&
            std::string(std::istreambuf_iterator<char>(f), {}).find("unique body 7\n") !=
                std::string::npos)
            fsys::remove(e.path());
    }
    fsys::create_directories(root_ / "eml");
    fsys::create_directories(root_ / "mbox");
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit tiny = old;
    tiny.rlim_cur = 8;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    const Result eml = Call({"export", store_, "Inbox", Path("eml")});
    const Result box = Call({"export", store_, "Inbox", Path("mbox"), "--format=mbox"});
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(eml.code, 2);
    EXPECT_THAT(eml.out, HasSubstr("0 written in 0 files.\nLeft out 150:\n  Inbox #1 \"m0\" and "
                                   "148 more: cannot write "));
    EXPECT_THAT(eml.out, HasSubstr("\n  Inbox #8 \"m7\": "));
    EXPECT_EQ(std::count(eml.out.begin(), eml.out.end(), '\n'), 4) << eml.out;
    EXPECT_EQ(box.code, 2);
    EXPECT_THAT(box.out, HasSubstr("Left out 150:\n  Inbox #1 \"m0\" and 149 more: "));
    EXPECT_EQ(std::count(box.out.begin(), box.out.end(), '\n'), 3) << box.out;
    // The temporary files of the failed run are gone; nothing else was there.
    EXPECT_TRUE(Tree("eml").empty());
    EXPECT_TRUE(Tree("mbox").empty());
    if (geteuid() == 0)
        return; // no directory is read-only to root
    fsys::create_directories(root_ / "ro");
    fsys::permissions(root_ / "ro", fsys::perms::owner_read | fsys::perms::owner_exec);
    const Result ro = Call({"export", store_, "Inbox", Path("ro")});
    fsys::permissions(root_ / "ro", fsys::perms::owner_all);
    // Nothing can be created, so the lost source is not even reached.
    EXPECT_THAT(ro.out, HasSubstr("Left out 150:\n  Inbox #1 \"m0\" and 149 more: cannot open "));
    EXPECT_EQ(std::count(ro.out.begin(), ro.out.end(), '\n'), 3) << ro.out;
}
#endif

} // namespace
} // namespace mailstore::cli
