// Store enumerations and records that hand back what the store gave out
// however the caller leaves, shared by the main window and the dialogs.
#pragma once

#include "store/StoreApi.h"

namespace store_enum {

// A message record filled by the store, handed back exactly once: by Free()
// or, if the caller leaves early, by the destructor.
class StoreRecord {
  public:
    explicit StoreRecord(IStoreFolder* folder);
    ~StoreRecord() { Free(); }
    StoreRecord(const StoreRecord&) = delete;
    StoreRecord& operator=(const StoreRecord&) = delete;

    MESSAGEPROPS* Get() { return &props_; }
    const MESSAGEPROPS& Props() const { return props_; }
    // Call after the store filled the record successfully.
    void MarkFilled() { filled_ = true; }
    // FreeMessageProps, then releases any stream the record still holds.
    void Free();

  private:
    IStoreFolder* folder_;
    MESSAGEPROPS props_;
    bool filled_ = false;
};

// A message enumeration, closed with GetMessageClose once it was opened.
class MessageEnum {
  public:
    explicit MessageEnum(IStoreFolder* folder) : folder_(folder) {}
    ~MessageEnum() { Close(); }
    MessageEnum(const MessageEnum&) = delete;
    MessageEnum& operator=(const MessageEnum&) = delete;

    // GetFirstMessage(0, 0, start, ...), from the folder's first message
    // when `start` is -1; true when a first message was filled.
    bool First(StoreRecord& record, MESSAGEID start = static_cast<MESSAGEID>(-1));
    // GetNextMessage(handle, 0, ...); true when another message was filled.
    bool Next(StoreRecord& record);
    void Close();

  private:
    IStoreFolder* folder_;
    HENUMSTORE handle_ = nullptr;
    bool open_ = false;
};

// A sub-folder enumeration, ended however the loop is left once it began.
class SubFolderEnum {
  public:
    explicit SubFolderEnum(IStoreNamespace* store) : store_(store) {}
    ~SubFolderEnum() {
        if (open_)
            store_->GetSubFolderClose(handle_);
    }
    SubFolderEnum(const SubFolderEnum&) = delete;
    SubFolderEnum& operator=(const SubFolderEnum&) = delete;

    bool First(STOREFOLDERID parentId, FOLDERPROPS& props) {
        open_ = store_->GetFirstSubFolder(parentId, &props, &handle_) == S_OK;
        return open_;
    }
    bool Next(FOLDERPROPS& props) { return store_->GetNextSubFolder(handle_, &props) == S_OK; }

  private:
    IStoreNamespace* store_;
    HENUMSTORE handle_ = nullptr;
    bool open_ = false;
};

} // namespace store_enum
