// A plain in-memory model of what a store should hold, a generator of scripted
// changes of every kind, and a canonical dump that a store and the model can both
// be compared by.
#pragma once

#include "Store.h"

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace mailstore::testing {

constexpr uint64_t kFixedClock = 133000000000000000ull;

struct Step {
    enum Kind {
        CreateFolder,
        RenameFolder,
        MoveFolder,
        DeleteFolder,
        Import,
        ImportBatch,
        Copy,
        Move,
        Delete,
        MarkRead,
        MarkUnread,
        MarkAllRead,
        MarkAllUnread,
        Flag,
        Unflag,
        Compact,
    } kind = CreateFolder;
    FolderId a = 0;
    FolderId b = 0;
    std::string name;
    std::vector<MessageId> ids;
    std::vector<std::string> sources;
    bool explicitRead = false; // Import with an explicit read state
    std::string Describe() const;
};

class Model {
  public:
    struct Msg {
        uint32_t state = kStateUnread;
        std::string source;
        std::string subject;
        std::string from;
        std::string to;
    };
    struct Folder {
        FolderId parent = 0;
        std::string name;
        int32_t type = kFolderNormal;
        std::map<MessageId, Msg> msgs;
    };

    Model();
    // What the store must answer, and the change when it is success.
    ErrorCode Apply(const Step& step);
    std::string Dump() const;

    std::map<FolderId, Folder> folders;
    FolderId nextFolder = 6;
    MessageId nextMessage = 1;

  private:
    bool Under(FolderId ancestor, FolderId f) const;
    bool Clash(FolderId parent, const std::string& name, FolderId except) const;
};

// A message whose props the model knows without parsing it.
std::string MakeMessage(int n, size_t bodyBytes = 40);

class ScriptGenerator {
  public:
    explicit ScriptGenerator(uint32_t seed) : rng_(seed) {}
    Step Next(const Model& model);

  private:
    uint32_t Pick(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
    std::mt19937 rng_;
    int messageNo_ = 0;
    int nameNo_ = 0;
};

Status Execute(Store& store, const Step& step);
// Dumps everything the store shows, message sources included.
std::string Dump(const Store& store);

} // namespace mailstore::testing
