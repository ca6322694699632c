// A scriptable in-memory store for tests: folders and messages in an order the
// test sets, every call recorded, any call made to fail on demand, and
// helpers that send the store's notifications to the registered windows.
//
// Records handed out are tracked: strings are heap copies that only
// FreeMessageProps returns, enumeration handles stay open until closed, and
// folder-notify records count as freed only when CoTaskMemFree sees them.
#pragma once

#include "StoreApi.h"

#include <windows.h>
#include <wrl/client.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace storedouble {

struct FolderSpec {
    STOREFOLDERID id = 0;
    STOREFOLDERID parent = FOLDERID_ROOT;
    std::string name; // up to 256 bytes; 256 leaves the record without a NUL
    LONG type = FOLDER_NOTSPECIAL;
    // Reported instead of the counted values when set, to script odd stores.
    std::optional<LONG> subFolders;
    std::optional<DWORD> messages;
    std::optional<DWORD> unread;
};

struct MessageSpec {
    MESSAGEID id = 0;
    DWORD state = 0; // MSGSTATE_* bits
    DWORD priority = MSGPRI_NORMAL;
    FILETIME received{};
    FILETIME sent{};
    std::optional<std::string> subject; // nullopt hands out a null pointer
    std::optional<std::string> to;
    std::optional<std::string> from;
    std::string source;        // what OpenMessage streams
    std::optional<DWORD> size; // reported size; the source's length when unset
    // The stream gives this many bytes, then every read fails.
    std::optional<size_t> breakAt;
};

struct StoreState;

// Builds a message with the usual texts set.
MessageSpec Message(MESSAGEID id, std::string from, std::string subject, DWORD state = 0);

// Messages firstId, firstId + 1, ... with varied senders, subjects, states
// and times, newest first, and no source: a big folder's worth.
std::vector<MessageSpec> ManyMessages(MESSAGEID firstId, int count);

// A FILETIME from its 64-bit value.
FILETIME FileTime(unsigned long long value);

class StoreDouble final : public IStoreNamespace {
  public:
    static Microsoft::WRL::ComPtr<StoreDouble> Create();
    StoreDouble(const StoreDouble&) = delete;
    StoreDouble& operator=(const StoreDouble&) = delete;

    // ---- Contents (no notifications are sent) -------------------------------------
    // Appends to the parent's children, which are enumerated in that order.
    StoreDouble& AddFolder(FolderSpec folder);
    StoreDouble& AddFolder(STOREFOLDERID id, STOREFOLDERID parent, std::string name,
                           LONG type = FOLDER_NOTSPECIAL);
    // Removes the folder, its sub-folders and their messages.
    void RemoveFolder(STOREFOLDERID id);
    void RenameFolderTo(STOREFOLDERID id, std::string name);
    void MoveFolderTo(STOREFOLDERID id, STOREFOLDERID newParent);
    FolderSpec& Folder(STOREFOLDERID id); // throws std::out_of_range when absent
    bool HasFolder(STOREFOLDERID id) const;
    // The enumeration order of a folder's children; must name each child once.
    void SetChildOrder(STOREFOLDERID parent, std::vector<STOREFOLDERID> order);
    std::vector<STOREFOLDERID> ChildIds(STOREFOLDERID parent) const;

    // Appends (or inserts at `position`) to the folder's enumeration order.
    StoreDouble& AddMessage(STOREFOLDERID folder, MessageSpec message,
                            std::optional<size_t> position = std::nullopt);
    void RemoveMessage(STOREFOLDERID folder, MESSAGEID id);
    void SetMessageState(STOREFOLDERID folder, MESSAGEID id, DWORD state);
    MessageSpec& Message(STOREFOLDERID folder, MESSAGEID id); // throws when absent
    void SetMessageOrder(STOREFOLDERID folder, std::vector<MESSAGEID> order);
    std::vector<MESSAGEID> MessageIds(STOREFOLDERID folder) const;
    // The folder's messages in its order, to change many at once (no
    // notifications): what a benchmark sets up in bulk.
    std::vector<MessageSpec>& Messages(STOREFOLDERID folder);

    void SetDirectory(std::string path);

    // ---- Failures -----------------------------------------------------------------------
    // Makes calls of `method` return `status`; the message streams' Stat and
    // CopyTo count as methods too: every call (nth 0) or only the nth
    // call counted from now (1-based). `method` is a bare name ("OpenFolder"),
    // matching both interfaces, or qualified ("IStoreFolder::RegisterNotification").
    void FailOn(std::string method, HRESULT status = E_FAIL, int nth = 0);
    void ClearFailures();
    // What the enumerations return when there is nothing (more) to deliver.
    void SetEndStatus(HRESULT status);

    // ---- Call record ---------------------------------------------------------------------
    // Operations in call order, e.g. "OpenFolder(5)", "UnregisterNotification(folder 5)".
    std::vector<std::string> Calls() const;
    // The same with the final releases of interface objects: "Release(namespace)"
    // for every release of the namespace, "Release(folder 5)" when a folder
    // object goes away.
    std::vector<std::string> CallsWithReleases() const;
    // Number of recorded calls of `method` (bare or qualified name, as FailOn).
    int CountCalls(std::string_view method) const;
    void ClearCalls();
    // Stops (or resumes) recording: a benchmark's hundreds of thousands of
    // calls would swamp its figures.
    void RecordCalls(bool on);

    // ---- Resources handed out -------------------------------------------------------------
    int OutstandingMessageProps() const; // filled records not yet handed back
    int UnknownFrees() const;            // FreeMessageProps of records not handed out
    int WrongSizes() const;              // records passed with a wrong size word
    int OpenEnumerations() const;        // enumeration handles not yet closed
    int LiveFolderObjects() const;       // IStoreFolder objects not yet released
    ULONG References() const;            // the namespace's reference count
    int LiveMessageStreams() const;      // streams from OpenMessage not yet released
    // Calls on a folder object after its last release, each refused.
    int CallsAfterRelease() const;

    // ---- Notifications -------------------------------------------------------------------
    HWND InitializedWith() const;
    size_t NamespaceRegistrations() const;
    size_t FolderRegistrations(STOREFOLDERID folder) const;

    // Sends to every window registered with the namespace; the record is allocated
    // with CoTaskMemAlloc. Returns the number of windows reached.
    int NotifyFolder(DWORD type, STOREFOLDERID idOld, STOREFOLDERID idNew);
    // Send to every window registered with an open object of `folder`.
    int NotifyNewMessage(STOREFOLDERID folder, MESSAGEID id);
    int NotifyDeleteMessage(STOREFOLDERID folder, MESSAGEID id);
    // Without an id the notification means every message in the folder.
    int NotifyMarked(STOREFOLDERID folder, bool read, std::optional<MESSAGEID> id = std::nullopt);
    int FolderNotifiesSent() const;
    int FolderNotifiesFreed() const;

    // The tool's store operations change the contents and queue the notifications a
    // store would send; they are delivered only when the test asks.
    size_t PendingNotifications() const;
    int DeliverPending();
    void DropPending();

    // ---- IUnknown ------------------------------------------------------------------------
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // ---- IStoreNamespace -----------------------------------------------------------------
    STDMETHODIMP Initialize(HWND hwndOwner, DWORD dwReserved) override;
    STDMETHODIMP GetDirectory(LPSTR pszPath, DWORD cchMaxPath) override;
    STDMETHODIMP Reserved5() override;
    STDMETHODIMP OpenFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                            IStoreFolder** ppFolder) override;
    STDMETHODIMP CreateFolder(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD dwReserved,
                              STOREFOLDERID* pdwFolderId) override;
    STDMETHODIMP RenameFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                              LPCSTR pszNewName) override;
    STDMETHODIMP MoveFolder(STOREFOLDERID dwFolderId, STOREFOLDERID dwParentId,
                            DWORD dwReserved) override;
    STDMETHODIMP DeleteFolder(STOREFOLDERID dwFolderId, DWORD dwReserved) override;
    STDMETHODIMP GetFolderProps(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                FOLDERPROPS* pProps) override;
    STDMETHODIMP CopyMoveMessages(IStoreFolder* pSource, IStoreFolder* pDest,
                                  MESSAGEIDLIST* pMsgIdList, DWORD dwFlags, DWORD dwFlagsRemove,
                                  IUnknown* pProgress) override;
    STDMETHODIMP RegisterNotification(DWORD dwReserved, HWND hwnd) override;
    STDMETHODIMP UnregisterNotification(DWORD dwReserved, HWND hwnd) override;
    STDMETHODIMP Reserved15() override;
    STDMETHODIMP GetFirstSubFolder(STOREFOLDERID dwFolderId, FOLDERPROPS* pProps,
                                   HENUMSTORE* phEnum) override;
    STDMETHODIMP GetNextSubFolder(HENUMSTORE hEnum, FOLDERPROPS* pProps) override;
    STDMETHODIMP GetSubFolderClose(HENUMSTORE hEnum) override;

  private:
    StoreDouble();
    ~StoreDouble();

    ULONG refs_ = 1;
    std::shared_ptr<StoreState> state_;
};

} // namespace storedouble
