#include "StoreTypes.h"

namespace mailstore {

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

} // namespace mailstore
