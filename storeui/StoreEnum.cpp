#include "StoreEnum.h"

#include "store/StoreRecords.h"

namespace store_enum {

StoreRecord::StoreRecord(IStoreFolder* folder)
    : folder_(folder), props_(store::NewMessageProps()) {}

void StoreRecord::Free() {
    if (filled_) {
        filled_ = false;
        folder_->FreeMessageProps(&props_);
    }
    if (props_.pStmOffsetTable) {
        props_.pStmOffsetTable->Release();
        props_.pStmOffsetTable = nullptr;
    }
}

bool MessageEnum::First(StoreRecord& record, MESSAGEID start) {
    if (folder_->GetFirstMessage(0, 0, start, record.Get(), &handle_) != S_OK)
        return false;
    open_ = true;
    record.MarkFilled();
    return true;
}

bool MessageEnum::Next(StoreRecord& record) {
    if (folder_->GetNextMessage(handle_, 0, record.Get()) != S_OK)
        return false;
    record.MarkFilled();
    return true;
}

void MessageEnum::Close() {
    if (open_) {
        open_ = false;
        folder_->GetMessageClose(handle_);
    }
}

} // namespace store_enum
