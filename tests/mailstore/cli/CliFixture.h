// The command-line tool driven in-process on a real directory.
#pragma once

#include "Cli.h"
#include "Store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <random>
#include <sstream>

namespace mailstore::cli {

namespace fsys = std::filesystem;

struct Result {
    int code;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        root_ = fsys::temp_directory_path() / ("mailstore-cli-" + std::to_string(rd()));
        fsys::create_directories(root_);
        store_ = Path("store");
    }
    void TearDown() override {
        std::error_code ec;
        fsys::remove_all(root_, ec);
    }
    std::string Path(const std::string& name) const { return (root_ / name).generic_string(); }
    void Write(const std::string& name, const std::string& bytes) {
        fsys::create_directories((root_ / name).parent_path());
        std::ofstream f(root_ / name, std::ios::binary);
        f << bytes;
    }
    Result Call(std::vector<std::string> args, bool progress = false) {
        std::ostringstream out, err;
        int code = mailstore::cli::Run(args, out, err, progress);
        return {code, out.str(), err.str()};
    }
    // The stored source of a message of the Inbox.
    std::string Stored(MessageId id) {
        std::unique_ptr<Store> store;
        std::unique_ptr<MessageReader> reader;
        if (!Store::Open(store_, OpenOptions(), &store).ok() ||
            !store->OpenMessageSource(kFolderInbox + 1, id, &reader).ok())
            return "(none)";
        std::string bytes(static_cast<size_t>(reader->Size()), '\0');
        size_t got = 0;
        reader->ReadAt(0, bytes.data(), bytes.size(), &got);
        return bytes.substr(0, got);
    }
    // Every folder (by path) with its messages' sources and states, in store order.
    struct Kept {
        std::string source;
        uint32_t state;
        bool operator<(const Kept& o) const {
            return source != o.source ? source < o.source : state < o.state;
        }
        bool operator==(const Kept& o) const { return source == o.source && state == o.state; }
        friend void PrintTo(const Kept& k, std::ostream* os) {
            *os << "{" << ::testing::PrintToString(k.source) << ", state " << k.state << "}";
        }
    };
    static std::map<std::string, std::vector<Kept>> Contents(const std::string& dir) {
        std::unique_ptr<Store> store;
        EXPECT_TRUE(Store::Open(dir, OpenOptions(), &store).ok());
        std::map<std::string, std::vector<Kept>> out;
        if (store)
            Walk(*store, kRootFolder, "", &out);
        return out;
    }
    static void Walk(const Store& store, FolderId parent, const std::string& path,
                     std::map<std::string, std::vector<Kept>>* out) {
        std::vector<FolderId> kids;
        store.GetChildren(parent, &kids);
        for (FolderId k : kids) {
            FolderInfo f;
            store.GetFolder(k, &f);
            const std::string p = path.empty() ? f.name : path + "/" + f.name;
            std::vector<MessageId> ids;
            store.GetMessageIds(k, &ids);
            auto& list = (*out)[p];
            for (MessageId id : ids) {
                MessageInfo m;
                std::unique_ptr<MessageReader> r;
                store.GetMessageInfo(k, id, &m);
                EXPECT_TRUE(store.OpenMessageSource(k, id, &r).ok());
                std::string bytes(static_cast<size_t>(r->Size()), '\0');
                size_t got = 0;
                r->ReadAt(0, bytes.data(), bytes.size(), &got);
                list.push_back({bytes, m.state});
            }
            Walk(store, k, p, out);
        }
    }
    // The store as the JSON listings and the store files show it.
    std::string Fingerprint() {
        std::string all = Call({"folders", "--json", store_}).out;
        for (const auto& [path, messages] : Contents(store_))
            all += Call({"list", "--json", store_, path}).out;
        return all;
    }
    fsys::path root_;
    std::string store_;
};

} // namespace mailstore::cli
