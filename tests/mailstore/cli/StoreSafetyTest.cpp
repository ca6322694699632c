// The tool on stores people have restored, copied or left things in: nothing
// the store holds is lost, and check and recover say what they found and did.
#include "CliFixture.h"
#include "CliSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace mailstore::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The real file system with a say before each file is created or renamed: to
// take a backup mid-batch, or to refuse as a folder without write permission
// does (tests may run as root, whom permissions do not stop).
class HookedFs : public FileSystem {
  public:
    std::function<void(const std::string& path)> beforeCreate;
    std::function<Status(const std::string& from)> beforeRename;

    Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out,
                bool* missing) override {
        if (mode == OpenMode::CreateNew && beforeCreate)
            beforeCreate(path);
        return real_.Open(path, mode, out, missing);
    }
    Status Rename(const std::string& from, const std::string& to) override {
        Status s = beforeRename ? beforeRename(from) : Status();
        return s.ok() ? real_.Rename(from, to) : s;
    }
    Status Remove(const std::string& path) override { return real_.Remove(path); }
    bool Exists(const std::string& path) override { return real_.Exists(path); }
    Status CreateDir(const std::string& path) override { return real_.CreateDir(path); }
    Status ListDir(const std::string& path, std::vector<std::string>* names) override {
        return real_.ListDir(path, names);
    }
    Status SyncDir(const std::string& path) override { return real_.SyncDir(path); }
    Status Lock(const std::string& path, unsigned timeoutMs,
                std::unique_ptr<FileLock>* out) override {
        return real_.Lock(path, timeoutMs, out);
    }

  private:
    FileSystem& real_ = DefaultFileSystem();
};

// The bytes of every file under messages/ and set-aside/.
std::multiset<std::string> FileBytes(const fsys::path& dir) {
    std::multiset<std::string> out;
    for (const char* sub : {"messages", "set-aside"}) {
        if (!fsys::exists(dir / sub))
            continue;
        for (const auto& e : fsys::recursive_directory_iterator(dir / sub)) {
            if (!e.is_regular_file())
                continue;
            std::ifstream f(e.path(), std::ios::binary);
            out.insert(std::string(std::istreambuf_iterator<char>(f), {}));
        }
    }
    return out;
}

// Copies a file over what is at `to` (removed first: some platforms' library
// refuses to overwrite).
void CopyOver(const fsys::path& from, const fsys::path& to) {
    fsys::remove(to);
    fsys::copy_file(from, to);
}

// Copies every file under `from` to the same place under `to`, over what is
// there unless `keep`, making directories as needed.
void CopyTree(const fsys::path& from, const fsys::path& to, bool keep = false) {
    fsys::create_directories(to);
    for (const auto& e : fsys::recursive_directory_iterator(from)) {
        const fsys::path target = to / fsys::relative(e.path(), from);
        if (e.is_directory())
            fsys::create_directories(target);
        else if (!keep || !fsys::exists(target))
            CopyOver(e.path(), target);
    }
}

template <class Contents> std::set<std::string> AllSources(const Contents& c) {
    std::set<std::string> out;
    for (const auto& [path, messages] : c) {
        for (const auto& m : messages)
            out.insert(m.source);
    }
    return out;
}

TEST_F(CliTest, BackupsTakenDuringAnImportRestoredLaterLoseNothing) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("first.eml", "Subject: before the backup\n\nkept\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("first.eml")}).code, 0);
    const fsys::path live = root_ / "store", backup = root_ / "backup";
    HookedFs fs;
    int created = 0;
    fs.beforeCreate = [&](const std::string& path) {
        if (path.find("/messages/") != std::string::npos && ++created == 2)
            CopyTree(live, backup);
    };
    {
        OpenOptions o;
        o.fs = &fs;
        std::unique_ptr<Store> store;
        ASSERT_TRUE(Store::Open(store_, o, &store).ok());
        std::vector<std::string> sources;
        for (int i = 0; i < 4; ++i)
            sources.push_back("Subject: committed after the backup " + std::to_string(i) +
                              "\n\nbody\n");
        std::vector<ImportItem> items(sources.size());
        for (size_t i = 0; i < items.size(); ++i)
            items[i].source = sources[i];
        ASSERT_TRUE(store->ImportMessages(kFolderInbox + 1, items, nullptr).ok());
    }
    ASSERT_GT(fsys::file_size(backup / "intent.bin"), 0u) << "the backup holds the intent";
    const std::set<std::string> committed = AllSources(Contents(store_));
    ASSERT_EQ(committed.size(), 5u);
    const std::vector<std::pair<std::string, std::function<void(const fsys::path&)>>> restores = {
        {"whole backup copied back", [&](const fsys::path& d) { CopyTree(backup, d); }},
        {"journal and intent",
         [&](const fsys::path& d) {
             for (const char* f : {"journal.bin", "intent.bin"})
                 CopyOver(backup / f, d / f);
         }},
        {"journal, snapshot and intent",
         [&](const fsys::path& d) {
             for (const char* f : {"journal.bin", "snapshot.bin", "intent.bin"})
                 CopyOver(backup / f, d / f);
         }},
        {"backup alone, live files merged back",
         [&](const fsys::path& d) {
             fsys::remove_all(d);
             CopyTree(backup, d);
             CopyTree(live / "messages", d / "messages", true);
         }},
    };
    int n = 0;
    for (const auto& [name, restore] : restores) {
        SCOPED_TRACE(name);
        const fsys::path d = root_ / ("case" + std::to_string(n++));
        CopyTree(live, d);
        restore(d);
        const std::multiset<std::string> before = FileBytes(d);
        Result r = Call({"check", d.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_THAT(r.out, HasSubstr("a batch the journal does not hold (intent.bin names it, "
                                     "with these bytes)"));
        EXPECT_THAT(r.out, Not(HasSubstr("removes it")));
        ASSERT_EQ(Call({"list", d.string(), "Inbox"}).code, 0); // the tool's open
        EXPECT_EQ(FileBytes(d), before) << "the open deleted no file";
        r = Call({"check", d.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_THAT(r.out, HasSubstr("SET ASIDE: set-aside/"));
        r = Call({"recover", d.string()});
        ASSERT_EQ(r.code, 0) << r.out << r.err;
        EXPECT_EQ(AllSources(Contents(d.string())), committed) << r.out;
        EXPECT_EQ(Call({"check", d.string()}).code, 0);
    }
}

TEST_F(CliTest, CheckNamesWhatIsNotTheStoresAndRecoverFindsRenamedFiles) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    for (int i = 0; i < 11; ++i)
        Write("in/" + std::to_string(i) + ".eml", "Subject: m" + std::to_string(i) + "\n\nx\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("in")}).code, 0);
    const fsys::path shard = root_ / "store" / "messages" / "00" / "00";
    fsys::rename(shard / "000000000000000a.eml", shard / "000000000000000A.eml");
    fsys::rename(shard / "0000000000000003.eml", shard / "0000000000000003.EML");
    Write("store/messages/notes.txt", "someone's notes");
    Write("store/messages/00/00/000000000000000C.eml", "Subject: not the store's\n\nx\n");
    // Where names ignore case a rename may keep the old spelling, and the
    // store's own lookups find the file anyway: nothing to report then.
    bool renamed = false;
    for (const auto& e : fsys::directory_iterator(shard))
        renamed = renamed || e.path().filename() == "000000000000000A.eml";
    Result r = Call({"check", store_});
    EXPECT_EQ(r.code, 1);
    if (renamed) {
        EXPECT_THAT(r.out,
                    HasSubstr("PROBLEM: messages/00/00/000000000000000A.eml: the file (message "
                              "10 in folder 1), under another name than the store's "
                              "(messages/00/00/000000000000000a.eml); mailstore recover "
                              "renames it back"));
        EXPECT_THAT(r.out, HasSubstr("0000000000000003.EML: the file (message 3"));
    } else {
        EXPECT_THAT(r.out, Not(HasSubstr("PROBLEM")));
    }
    EXPECT_THAT(r.out, HasSubstr("NOT THE STORE'S: messages/notes.txt: not the store's (a name it "
                                 "never gives); left untouched"));
    EXPECT_THAT(r.out, HasSubstr("NOT THE STORE'S: messages/00/00/000000000000000C.eml: not the "
                                 "store's (named like messages/00/00/000000000000000c.eml, but no "
                                 "record names that); left untouched"));
    ASSERT_EQ(Call({"compact", store_}).code, 0);
    r = Call({"recover", store_});
    ASSERT_EQ(r.code, 0) << r.err;
    if (renamed) {
        EXPECT_THAT(r.out, HasSubstr("000000000000000A.eml: renamed to "
                                     "messages/00/00/000000000000000a.eml, the store's name"));
    }
    EXPECT_EQ(Contents(store_)["Inbox"].size(), 11u) << r.out;
    r = Call({"check", store_});
    EXPECT_THAT(r.out, Not(HasSubstr("PROBLEM")));
    EXPECT_THAT(r.out, HasSubstr("NOT THE STORE'S: messages/notes.txt"));
    EXPECT_TRUE(fsys::exists(root_ / "store" / "messages" / "notes.txt"));
    EXPECT_TRUE(fsys::exists(shard / "000000000000000C.eml"));
}

TEST_F(CliTest, RecoverThatCannotMoveFilesNamesTheErrorAndFails) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("m.eml", "Subject: kept\n\nx\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("m.eml")}).code, 0);
    Write("store/set-aside/00000000000000f0-1-18.eml", "Subject: set aside\n\ny\n");
    HookedFs fs;
    fs.beforeRename = [](const std::string& from) {
        return from.find("/set-aside/") != std::string::npos
                   ? Status(ErrorCode::Io, "set-aside: Permission denied")
                   : Status();
    };
    UseFileSystem(&fs);
    Result r = Call({"recover", store_});
    UseFileSystem(nullptr);
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.out, HasSubstr("set-aside/00000000000000f0-1-18.eml: could not be given a new "
                                 "number: set-aside: Permission denied; left where it is"));
    EXPECT_THAT(r.out, HasSubstr("Recover could not finish: 1 file left as found"));
    EXPECT_EQ(Call({"recover", store_}).code, 0);
    EXPECT_EQ(Call({"check", store_}).code, 0);
}

} // namespace
} // namespace mailstore::cli
