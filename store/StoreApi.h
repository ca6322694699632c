// The mail store's boundary: fixed-layout records, notification message codes,
// class and interface ids, and the two store interfaces with every vtable slot
// in order. Layouts are binding for the 32-bit build (pointers are 4 bytes).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <cstdint>

// ---- Identifiers -------------------------------------------------------------

using STOREFOLDERID = DWORD; // 0 is the hidden root
using MESSAGEID = DWORD;     // unique within its folder
using MESSAGEID_ARRAY = MESSAGEID*;

constexpr STOREFOLDERID FOLDERID_ROOT = 0;

// Opaque enumeration handle given out by the store.
struct HENUMSTORE__;
using HENUMSTORE = HENUMSTORE__*;

// ---- Special-folder types ----------------------------------------------------

enum SPECIALFOLDER : LONG {
    FOLDER_NOTSPECIAL = -1,
    FOLDER_INBOX = 0,
    FOLDER_OUTBOX = 1,
    FOLDER_SENT = 2,
    FOLDER_DELETED = 3,
    FOLDER_DRAFT = 4,
};

// ---- Message state bits and priorities ---------------------------------------

constexpr DWORD MSGSTATE_UNREAD = 0x0002;
constexpr DWORD MSGSTATE_FLAGGED = 0x0800;

constexpr DWORD MSGPRI_HIGH = 1;
constexpr DWORD MSGPRI_NORMAL = 3;
constexpr DWORD MSGPRI_LOW = 5;

// ---- Records -----------------------------------------------------------------

constexpr int STORE_FOLDERNAME_BYTES = 256;

struct tagFOLDERPROPS {
    DWORD cbSize;                        // 280, set by the caller
    DWORD FolderId;                      // the folder's id
    LONG cSubFolders;                    // direct sub-folders
    LONG sfType;                         // SPECIALFOLDER
    DWORD cUnread;                       // unread messages
    DWORD cMessage;                      // all messages
    CHAR szName[STORE_FOLDERNAME_BYTES]; // NUL-terminated, at most 255 characters
};
using FOLDERPROPS = tagFOLDERPROPS;

struct tagMESSAGEPROPS {
    DWORD cbSize;     // 68, set by the caller
    DWORD dwReserved; // not read by the tool
    MESSAGEID dwMessageId;
    DWORD dwUnused12;    // not read by the tool
    DWORD dwState;       // MSGSTATE_* bits
    DWORD cbMessage;     // size of the source in bytes
    DWORD priority;      // MSGPRI_*
    FILETIME ftReceived; // UTC
    FILETIME ftSent;     // UTC
    LPSTR pszSubject;
    LPSTR pszDisplayTo;
    LPSTR pszDisplayFrom;
    LPSTR pszUnused56;        // not read by the tool
    DWORD dwUnused60;         // not read by the tool
    IStream* pStmOffsetTable; // released by whoever discards the record
};
using MESSAGEPROPS = tagMESSAGEPROPS;

struct tagMESSAGEIDLIST {
    DWORD cbSize; // 12
    DWORD cMsgs;  // ids in the array
    MESSAGEID_ARRAY prgdwMsgId;
};
using MESSAGEIDLIST = tagMESSAGEIDLIST;

enum FOLDERNOTIFYTYPE : DWORD {
    NEW_FOLDER = 1,
    DELETE_FOLDER = 2,
    RENAME_FOLDER = 3,
    MOVE_FOLDER = 4,
    UNREAD_CHANGE = 5,
    IMAPFLAG_CHANGE = 6,
    UPDATEFLAG_CHANGE = 7,
    FOLDER_PROPS_CHANGED = 8,
};

// Allocated by the store with the COM task allocator; freed by the receiver.
struct tagFOLDERNOTIFY {
    DWORD type; // FOLDERNOTIFYTYPE
    STOREFOLDERID idFolderOld;
    STOREFOLDERID idFolderNew; // for DELETE_FOLDER the deleted folder
};
using FOLDERNOTIFY = tagFOLDERNOTIFY;

constexpr DWORD FOLDERPROPS_SIZE = 280;
constexpr DWORD MESSAGEPROPS_SIZE = 68;
constexpr DWORD MESSAGEIDLIST_SIZE = 12;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(tagFOLDERPROPS) == 280);
static_assert(offsetof(tagFOLDERPROPS, cbSize) == 0);
static_assert(offsetof(tagFOLDERPROPS, FolderId) == 4);
static_assert(offsetof(tagFOLDERPROPS, cSubFolders) == 8);
static_assert(offsetof(tagFOLDERPROPS, sfType) == 12);
static_assert(offsetof(tagFOLDERPROPS, cUnread) == 16);
static_assert(offsetof(tagFOLDERPROPS, cMessage) == 20);
static_assert(offsetof(tagFOLDERPROPS, szName) == 24);

static_assert(sizeof(tagMESSAGEPROPS) == 68);
static_assert(offsetof(tagMESSAGEPROPS, dwReserved) == 4);
static_assert(offsetof(tagMESSAGEPROPS, dwMessageId) == 8);
static_assert(offsetof(tagMESSAGEPROPS, dwUnused12) == 12);
static_assert(offsetof(tagMESSAGEPROPS, dwState) == 16);
static_assert(offsetof(tagMESSAGEPROPS, cbMessage) == 20);
static_assert(offsetof(tagMESSAGEPROPS, priority) == 24);
static_assert(offsetof(tagMESSAGEPROPS, ftReceived) == 28);
static_assert(offsetof(tagMESSAGEPROPS, ftSent) == 36);
static_assert(offsetof(tagMESSAGEPROPS, pszSubject) == 44);
static_assert(offsetof(tagMESSAGEPROPS, pszDisplayTo) == 48);
static_assert(offsetof(tagMESSAGEPROPS, pszDisplayFrom) == 52);
static_assert(offsetof(tagMESSAGEPROPS, pszUnused56) == 56);
static_assert(offsetof(tagMESSAGEPROPS, dwUnused60) == 60);
static_assert(offsetof(tagMESSAGEPROPS, pStmOffsetTable) == 64);

static_assert(sizeof(tagMESSAGEIDLIST) == 12);
static_assert(offsetof(tagMESSAGEIDLIST, cMsgs) == 4);
static_assert(offsetof(tagMESSAGEIDLIST, prgdwMsgId) == 8);

static_assert(sizeof(tagFOLDERNOTIFY) == 12);
static_assert(offsetof(tagFOLDERNOTIFY, idFolderOld) == 4);
static_assert(offsetof(tagFOLDERNOTIFY, idFolderNew) == 8);
#endif

// ---- Notification messages ---------------------------------------------------

constexpr UINT WM_FOLDERNOTIFY = WM_USER + 1600;   // LParam: tagFOLDERNOTIFY*
constexpr UINT WM_NEWMSGS = WM_USER + 1650;        // WParam: new message id
constexpr UINT WM_DELETEMSGS = WM_USER + 1651;     // WParam: MESSAGEID*
constexpr UINT WM_MARKEDASREAD = WM_USER + 1653;   // WParam: MESSAGEID* or -1 for all
constexpr UINT WM_MARKEDASUNREAD = WM_USER + 1654; // as WM_MARKEDASREAD
static_assert(WM_FOLDERNOTIFY == 0x0A40 && WM_NEWMSGS == 0x0A72 && WM_DELETEMSGS == 0x0A73 &&
              WM_MARKEDASREAD == 0x0A75 && WM_MARKEDASUNREAD == 0x0A76);

constexpr WPARAM MARKED_ALL_MESSAGES = static_cast<WPARAM>(-1);

// ---- Class and interface ids -------------------------------------------------

// {E70C92A9-4BFD-11D1-8A95-00C04FB951F3}
inline constexpr CLSID CLSID_StoreNamespace = {
    0xE70C92A9, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
// {E70C92AA-4BFD-11D1-8A95-00C04FB951F3}
inline constexpr IID IID_IStoreNamespace = {
    0xE70C92AA, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
// {E70C92AC-4BFD-11D1-8A95-00C04FB951F3}
inline constexpr IID IID_IStoreFolder = {
    0xE70C92AC, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};

// ---- Interfaces --------------------------------------------------------------
// Slot numbers count IUnknown's three methods. Slots the tool never calls are
// declared without arguments only to keep the listed operations at their places.

struct IStoreFolder;

struct IStoreNamespace : public IUnknown {
    /* 3*/ STDMETHOD(Initialize)(HWND hwndOwner, DWORD dwReserved) = 0;
    /* 4*/ STDMETHOD(GetDirectory)(LPSTR pszPath, DWORD cchMaxPath) = 0;
    /* 5*/ STDMETHOD(Reserved5)() = 0;
    /* 6*/ STDMETHOD(OpenFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                 IStoreFolder** ppFolder) = 0;
    /* 7*/ STDMETHOD(CreateFolder)(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD dwReserved,
                                   STOREFOLDERID* pdwFolderId) = 0;
    /* 8*/ STDMETHOD(RenameFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                   LPCSTR pszNewName) = 0;
    /* 9*/ STDMETHOD(MoveFolder)(STOREFOLDERID dwFolderId, STOREFOLDERID dwParentId,
                                 DWORD dwReserved) = 0;
    /*10*/ STDMETHOD(DeleteFolder)(STOREFOLDERID dwFolderId, DWORD dwReserved) = 0;
    /*11*/ STDMETHOD(GetFolderProps)(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                     FOLDERPROPS* pProps) = 0;
    /*12*/ STDMETHOD(CopyMoveMessages)(IStoreFolder* pSource, IStoreFolder* pDest,
                                       MESSAGEIDLIST* pMsgIdList, DWORD dwFlags,
                                       DWORD dwFlagsRemove, IUnknown* pProgress) = 0;
    /*13*/ STDMETHOD(RegisterNotification)(DWORD dwReserved, HWND hwnd) = 0;
    /*14*/ STDMETHOD(UnregisterNotification)(DWORD dwReserved, HWND hwnd) = 0;
    /*15*/ STDMETHOD(Reserved15)() = 0;
    /*16*/ STDMETHOD(GetFirstSubFolder)(STOREFOLDERID dwFolderId, FOLDERPROPS* pProps,
                                        HENUMSTORE* phEnum) = 0;
    /*17*/ STDMETHOD(GetNextSubFolder)(HENUMSTORE hEnum, FOLDERPROPS* pProps) = 0;
    /*18*/ STDMETHOD(GetSubFolderClose)(HENUMSTORE hEnum) = 0;
};

struct IStoreFolder : public IUnknown {
    /* 3*/ STDMETHOD(Reserved3)() = 0;
    /* 4*/ STDMETHOD(GetMessageProps)(MESSAGEID dwMessageId, DWORD dwFlags,
                                      MESSAGEPROPS* pProps) = 0;
    /* 5*/ STDMETHOD(FreeMessageProps)(MESSAGEPROPS* pProps) = 0;
    /* 6*/ STDMETHOD(DeleteMessages)(MESSAGEIDLIST* pMsgIdList, DWORD dwReserved,
                                     IUnknown* pProgress) = 0;
    /* 7*/ STDMETHOD(Reserved7)() = 0;
    /* 8*/ STDMETHOD(MarkMessagesAsRead)(BOOL fRead, DWORD dwReserved,
                                         MESSAGEIDLIST* pMsgIdList) = 0;
    /* 9*/ STDMETHOD(Reserved9)() = 0;
    /*10*/ STDMETHOD(OpenMessage)(MESSAGEID dwMessageId, REFIID riid, void** ppvObject) = 0;
    /*11*/ STDMETHOD(Reserved11)() = 0;
    /*12*/ STDMETHOD(Reserved12)() = 0;
    /*13*/ STDMETHOD(Reserved13)() = 0;
    /*14*/ STDMETHOD(Reserved14)() = 0;
    /*15*/ STDMETHOD(Reserved15)() = 0;
    /*16*/ STDMETHOD(Reserved16)() = 0;
    /*17*/ STDMETHOD(RegisterNotification)(DWORD dwReserved, HWND hwnd) = 0;
    /*18*/ STDMETHOD(UnregisterNotification)(DWORD dwReserved, HWND hwnd) = 0;
    /*19*/ STDMETHOD(Reserved19)() = 0;
    /*20*/ STDMETHOD(GetFirstMessage)(DWORD dwFlags, DWORD dwMsgFlags, MESSAGEID dwMsgIdFirst,
                                      MESSAGEPROPS* pProps, HENUMSTORE* phEnum) = 0;
    /*21*/ STDMETHOD(GetNextMessage)(HENUMSTORE hEnum, DWORD dwFlags, MESSAGEPROPS* pProps) = 0;
    /*22*/ STDMETHOD(GetMessageClose)(HENUMSTORE hEnum) = 0;
};

// Lets ComPtr and __uuidof find the ids.
#if defined(_MSC_VER)
struct __declspec(uuid("E70C92AA-4BFD-11D1-8A95-00C04FB951F3")) IStoreNamespace;
struct __declspec(uuid("E70C92AC-4BFD-11D1-8A95-00C04FB951F3")) IStoreFolder;
#elif defined(__MINGW32__)
__CRT_UUID_DECL(IStoreNamespace, 0xE70C92AA, 0x4BFD, 0x11D1, 0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9,
                0x51, 0xF3)
__CRT_UUID_DECL(IStoreFolder, 0xE70C92AC, 0x4BFD, 0x11D1, 0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51,
                0xF3)
#endif
