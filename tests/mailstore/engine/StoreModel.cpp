#include "StoreModel.h"

#include <algorithm>
#include <set>

namespace mailstore::testing {

namespace {
const uint64_t kSentTime = FileTimeFromUtc(2026, 12, 7, 8, 0, 0);

std::string Line(FolderId id, FolderId parent, int32_t type, const std::string& name, size_t subs,
                 size_t msgs, size_t unread) {
    return "F " + std::to_string(id) + " parent=" + std::to_string(parent) +
           " type=" + std::to_string(type) + " name=" + name + " sub=" + std::to_string(subs) +
           " msgs=" + std::to_string(msgs) + " unread=" + std::to_string(unread) + "\n";
}

std::string MsgLine(MessageId id, uint32_t state, const std::string& subject,
                    const std::string& from, const std::string& to, uint64_t sent,
                    uint64_t received, const std::string& source) {
    return "  M " + std::to_string(id) + " state=" + std::to_string(state) + " subj=" + subject +
           " from=" + from + " to=" + to + " sent=" + std::to_string(sent) +
           " recv=" + std::to_string(received) + " size=" + std::to_string(source.size()) +
           " src=" + source + "\n";
}
} // namespace

std::string MakeMessage(int n, size_t bodyBytes) {
    std::string body;
    while (body.size() < bodyBytes)
        body += "Line " + std::to_string(body.size()) + " of message " + std::to_string(n) + "\r\n";
    return "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) +
           "@example.org>\r\nTo: Reader Example <reader@example.org>\r\nSubject: note " +
           std::to_string(n) + "\r\nDate: Mon, 7 Dec 2026 08:00:00 +0000\r\n\r\n" + body;
}

std::string Step::Describe() const {
    static const char* const kNames[] = {
        "CreateFolder",  "RenameFolder", "MoveFolder", "DeleteFolder", "Import",     "ImportBatch",
        "Copy",          "Move",         "Delete",     "MarkRead",     "MarkUnread", "MarkAllRead",
        "MarkAllUnread", "Flag",         "Unflag",     "Compact"};
    std::string d = std::string(kNames[kind]) + " a=" + std::to_string(a) +
                    " b=" + std::to_string(b) + " name=" + name + " ids=";
    for (MessageId id : ids)
        d += std::to_string(id) + ",";
    return d;
}

Model::Model() {
    static const char* const kNames[] = {"Inbox", "Outbox", "Sent Items", "Deleted Items",
                                         "Drafts"};
    for (int32_t t = 0; t < 5; ++t) {
        Folder f;
        f.name = kNames[t];
        f.type = t;
        folders[static_cast<FolderId>(t + 1)] = f;
    }
}

bool Model::Under(FolderId ancestor, FolderId f) const {
    while (true) {
        if (f == ancestor)
            return true;
        if (f == kRootFolder)
            return false;
        f = folders.at(f).parent;
    }
}

bool Model::Clash(FolderId parent, const std::string& name, FolderId except) const {
    for (const auto& [id, f] : folders) {
        if (id != except && f.parent == parent && f.name == name)
            return true;
    }
    return false;
}

ErrorCode Model::Apply(const Step& s) {
    auto known = [&](FolderId id) { return id == kRootFolder || folders.count(id) != 0; };
    auto badName = [](const std::string& n) { return n.empty() || n.size() > 255; };
    auto haveAll = [&](FolderId f, const std::vector<MessageId>& ids) {
        for (MessageId id : ids) {
            if (folders.at(f).msgs.count(id) == 0)
                return false;
        }
        return true;
    };
    // Why a folder cannot be renamed, moved or deleted; Ok when it can.
    auto unchangeable = [&](FolderId id) {
        if (id == kRootFolder)
            return ErrorCode::InvalidArgument;
        if (folders.at(id).type != kFolderNormal)
            return ErrorCode::SpecialFolder;
        return ErrorCode::Ok;
    };
    switch (s.kind) {
    case Step::CreateFolder: {
        if (badName(s.name))
            return ErrorCode::InvalidName;
        if (!known(s.a))
            return ErrorCode::UnknownFolder;
        if (Clash(s.a, s.name, 0))
            return ErrorCode::NameExists;
        Folder f;
        f.parent = s.a;
        f.name = s.name;
        folders[nextFolder++] = f;
        return ErrorCode::Ok;
    }
    case Step::RenameFolder: {
        if (badName(s.name))
            return ErrorCode::InvalidName;
        if (!known(s.a))
            return ErrorCode::UnknownFolder;
        if (ErrorCode e = unchangeable(s.a); e != ErrorCode::Ok)
            return e;
        Folder& f = folders.at(s.a);
        if (f.name == s.name)
            return ErrorCode::Ok;
        if (Clash(f.parent, s.name, s.a))
            return ErrorCode::NameExists;
        f.name = s.name;
        return ErrorCode::Ok;
    }
    case Step::MoveFolder: {
        if (!known(s.a) || !known(s.b))
            return ErrorCode::UnknownFolder;
        if (ErrorCode e = unchangeable(s.a); e != ErrorCode::Ok)
            return e;
        Folder& f = folders.at(s.a);
        if (Under(s.a, s.b))
            return ErrorCode::IntoOwnSubtree;
        if (f.parent == s.b)
            return ErrorCode::Ok;
        if (Clash(s.b, f.name, s.a))
            return ErrorCode::NameExists;
        f.parent = s.b;
        return ErrorCode::Ok;
    }
    case Step::DeleteFolder: {
        if (!known(s.a))
            return ErrorCode::UnknownFolder;
        if (ErrorCode e = unchangeable(s.a); e != ErrorCode::Ok)
            return e;
        std::vector<FolderId> doomed;
        for (const auto& [id, f] : folders) {
            if (Under(s.a, id))
                doomed.push_back(id);
        }
        for (FolderId id : doomed)
            folders.erase(id);
        return ErrorCode::Ok;
    }
    case Step::Import:
    case Step::ImportBatch: {
        if (!known(s.a))
            return ErrorCode::UnknownFolder;
        if (s.a == kRootFolder)
            return ErrorCode::InvalidArgument;
        for (const std::string& src : s.sources) {
            Msg m;
            m.source = src;
            size_t at = src.find("Subject: ");
            m.subject = src.substr(at + 9, src.find('\r', at) - at - 9);
            at = src.find("From: ");
            m.from = src.substr(at + 6, src.find(" <", at) - at - 6);
            m.to = "Reader Example";
            m.state = s.explicitRead ? 0 : kStateUnread;
            folders.at(s.a).msgs[nextMessage++] = m;
        }
        return ErrorCode::Ok;
    }
    case Step::Copy:
    case Step::Move: {
        if (!known(s.a) || !known(s.b))
            return ErrorCode::UnknownFolder;
        if (!haveAll(s.a, s.ids))
            return ErrorCode::UnknownMessage;
        if (s.b == kRootFolder)
            return ErrorCode::InvalidArgument;
        if (s.kind == Step::Move && s.a == s.b)
            return ErrorCode::InvalidArgument;
        std::vector<MessageId> ids;
        std::set<MessageId> seen;
        for (MessageId id : s.ids) {
            if (seen.insert(id).second)
                ids.push_back(id);
        }
        for (MessageId id : ids) {
            Msg m = folders.at(s.a).msgs.at(id);
            if (s.kind == Step::Move)
                folders.at(s.a).msgs.erase(id);
            folders.at(s.b).msgs[nextMessage++] = m;
        }
        return ErrorCode::Ok;
    }
    case Step::Delete:
    case Step::MarkRead:
    case Step::MarkUnread:
    case Step::Flag:
    case Step::Unflag: {
        if (!known(s.a))
            return ErrorCode::UnknownFolder;
        if (!haveAll(s.a, s.ids))
            return ErrorCode::UnknownMessage;
        for (MessageId id : s.ids) {
            auto& msgs = folders.at(s.a).msgs;
            if (s.kind == Step::Delete) {
                msgs.erase(id);
                continue;
            }
            uint32_t& st = msgs.at(id).state;
            if (s.kind == Step::MarkRead)
                st &= ~kStateUnread;
            else if (s.kind == Step::MarkUnread)
                st |= kStateUnread;
            else if (s.kind == Step::Flag)
                st |= kStateFlagged;
            else
                st &= ~kStateFlagged;
        }
        return ErrorCode::Ok;
    }
    case Step::MarkAllRead:
    case Step::MarkAllUnread: {
        if (!known(s.a))
            return ErrorCode::UnknownFolder;
        if (s.a == kRootFolder)
            return ErrorCode::Ok;
        for (auto& [id, m] : folders.at(s.a).msgs) {
            if (s.kind == Step::MarkAllRead)
                m.state &= ~kStateUnread;
            else
                m.state |= kStateUnread;
        }
        return ErrorCode::Ok;
    }
    case Step::Compact:
        return ErrorCode::Ok;
    }
    return ErrorCode::Ok;
}

std::string Model::Dump() const {
    std::string out;
    std::vector<FolderId> order{kRootFolder};
    for (size_t i = 0; i < order.size(); ++i) {
        FolderId id = order[i];
        std::vector<FolderId> kids;
        for (const auto& [cid, c] : folders) {
            if (c.parent == id && cid != kRootFolder)
                kids.push_back(cid);
        }
        std::sort(kids.begin(), kids.end());
        order.insert(order.end(), kids.begin(), kids.end());
        if (id == kRootFolder) {
            out += Line(0, 0, -1, "", kids.size(), 0, 0);
            continue;
        }
        const Folder& f = folders.at(id);
        size_t unread = 0;
        for (const auto& [mid, m] : f.msgs)
            unread += (m.state & kStateUnread) ? 1 : 0;
        out += Line(id, f.parent, f.type, f.name, kids.size(), f.msgs.size(), unread);
        // Without a Received: header a message counts as received when it was sent.
        for (const auto& [mid, m] : f.msgs)
            out += MsgLine(mid, m.state, m.subject, m.from, m.to, kSentTime, kSentTime, m.source);
    }
    return out;
}

std::string Dump(const Store& store) {
    std::string out;
    std::vector<FolderId> order{kRootFolder};
    for (size_t i = 0; i < order.size(); ++i) {
        FolderId id = order[i];
        std::vector<FolderId> kids;
        FolderInfo fi;
        if (!store.GetChildren(id, &kids).ok() || !store.GetFolder(id, &fi).ok())
            return "error reading folder " + std::to_string(id);
        order.insert(order.end(), kids.begin(), kids.end());
        out += Line(fi.id, fi.parent, fi.type, fi.name, fi.subFolderCount, fi.messageCount,
                    fi.unreadCount);
        std::vector<MessageId> ids;
        store.GetMessageIds(id, &ids);
        for (MessageId mid : ids) {
            MessageInfo mi;
            store.GetMessageInfo(id, mid, &mi);
            std::unique_ptr<MessageReader> r;
            std::string src;
            if (store.OpenMessageSource(id, mid, &r).ok()) {
                src.resize(static_cast<size_t>(r->Size()));
                size_t got = 0;
                r->ReadAt(0, src.data(), src.size(), &got);
                src.resize(got);
            } else {
                src = "<unreadable>";
            }
            out += MsgLine(mid, mi.state, mi.subject, mi.from, mi.to, mi.sent, mi.received, src);
        }
    }
    return out;
}

Step ScriptGenerator::Next(const Model& model) {
    std::vector<FolderId> all;   // every folder but the root
    std::vector<FolderId> plain; // not special
    std::vector<std::pair<FolderId, MessageId>> msgs;
    for (const auto& [id, f] : model.folders) {
        all.push_back(id);
        if (f.type == kFolderNormal)
            plain.push_back(id);
        for (const auto& [mid, m] : f.msgs)
            msgs.emplace_back(id, mid);
    }
    auto anyFolder = [&]() { return all[Pick(static_cast<uint32_t>(all.size()))]; };
    // A plain folder, except one time in `odds` (or when there is none).
    auto mostlyPlain = [&](uint32_t odds) {
        return Pick(odds) == 0 || plain.empty() ? anyFolder() : plain[Pick(plain.size())];
    };
    auto someIds = [&](FolderId f, Step& s) {
        const auto& m = model.folders.at(f).msgs;
        for (const auto& [mid, msg] : m) {
            if (Pick(3) == 0)
                s.ids.push_back(mid);
        }
        if (s.ids.empty() && !m.empty())
            s.ids.push_back(m.begin()->first);
    };
    Step s;
    uint32_t r = Pick(100);
    if (r < 8) {
        s.kind = Step::CreateFolder;
        s.a = Pick(4) == 0 ? kRootFolder : anyFolder();
        s.name = "Folder " + std::to_string(nameNo_++ % 12);
        if (Pick(20) == 0)
            s.name = "";
        if (Pick(25) == 0)
            s.a = 999;
    } else if (r < 12) {
        s.kind = Step::RenameFolder;
        s.a = mostlyPlain(5);
        s.name = "Renamed " + std::to_string(nameNo_++ % 7);
    } else if (r < 16) {
        s.kind = Step::MoveFolder;
        s.a = mostlyPlain(5);
        s.b = Pick(3) == 0 ? kRootFolder : anyFolder();
    } else if (r < 19) {
        s.kind = Step::DeleteFolder;
        s.a = mostlyPlain(4);
    } else if (r < 40) {
        s.kind = Step::Import;
        s.a = Pick(3) == 0 ? anyFolder() : 1;
        s.sources.push_back(MakeMessage(++messageNo_, Pick(10) == 0 ? 5000 : 40));
        s.explicitRead = Pick(4) == 0;
    } else if (r < 46) {
        s.kind = Step::ImportBatch;
        s.a = anyFolder();
        for (uint32_t n = 1 + Pick(4); n > 0; --n)
            s.sources.push_back(MakeMessage(++messageNo_));
    } else if (msgs.empty()) {
        s.kind = Step::Compact;
    } else {
        auto [f, mid] = msgs[Pick(static_cast<uint32_t>(msgs.size()))];
        s.a = f;
        if (r < 54) {
            s.kind = r < 50 ? Step::Copy : Step::Move;
            s.b = anyFolder();
            someIds(f, s);
        } else if (r < 62) {
            s.kind = Step::Delete;
            someIds(f, s);
        } else if (r < 72) {
            s.kind = r < 67 ? Step::MarkRead : Step::MarkUnread;
            someIds(f, s);
        } else if (r < 78) {
            s.kind = r < 75 ? Step::MarkAllRead : Step::MarkAllUnread;
        } else if (r < 88) {
            s.kind = r < 84 ? Step::Flag : Step::Unflag;
            someIds(f, s);
        } else if (r < 92) {
            s.kind = Step::Compact;
        } else {
            s.kind = Step::MarkRead; // an id that is not there
            s.ids = {mid, 1000000};
        }
    }
    return s;
}

Status Execute(Store& store, const Step& s) {
    switch (s.kind) {
    case Step::CreateFolder:
        return store.CreateFolder(s.a, s.name, nullptr);
    case Step::RenameFolder:
        return store.RenameFolder(s.a, s.name);
    case Step::MoveFolder:
        return store.MoveFolder(s.a, s.b);
    case Step::DeleteFolder:
        return store.DeleteFolder(s.a);
    case Step::Import:
        return store.ImportMessage(s.a, s.sources[0], nullptr,
                                   s.explicitRead ? std::optional<uint32_t>(0) : std::nullopt);
    case Step::ImportBatch: {
        std::vector<ImportItem> items;
        for (const std::string& src : s.sources) {
            ImportItem it;
            it.source = src;
            items.push_back(it);
        }
        return store.ImportMessages(s.a, items, nullptr);
    }
    case Step::Copy:
        return store.CopyMessages(s.a, s.b, s.ids, nullptr);
    case Step::Move:
        return store.MoveMessages(s.a, s.b, s.ids, nullptr);
    case Step::Delete:
        return store.DeleteMessages(s.a, s.ids);
    case Step::MarkRead:
    case Step::MarkUnread:
        return store.MarkRead(s.a, s.ids, s.kind == Step::MarkRead);
    case Step::MarkAllRead:
    case Step::MarkAllUnread:
        return store.MarkAllRead(s.a, s.kind == Step::MarkAllRead);
    case Step::Flag:
    case Step::Unflag:
        return store.SetFlagged(s.a, s.ids, s.kind == Step::Flag);
    case Step::Compact:
        return store.Compact();
    }
    return Status();
}

} // namespace mailstore::testing
