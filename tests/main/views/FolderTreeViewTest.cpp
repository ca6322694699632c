// The main tree, the folder panel and the message list in the real window on
// the store double: what start-up and selection changes load.
#include "storeui/FolderTree.h"
#include "MainUnitTestSupport.h"
#include "main/views/MessageRows.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace maintest {
namespace {

class FolderTreeWindowTest : public MainWindowTest {
  protected:
    HWND Tree() const { return window_->TreeViewFolders(); }
    STOREFOLDERID SelectedId() const {
        HTREEITEM node = TreeView_GetSelection(Tree());
        return node ? folder_tree::NodeId(Tree(), node) : 0xFFFFFFFFu;
    }
    HTREEITEM NodeOf(STOREFOLDERID id, HTREEITEM from = TVI_ROOT) const {
        HTREEITEM node = from == TVI_ROOT ? TreeView_GetRoot(Tree()) : from;
        for (; node; node = TreeView_GetNextSibling(Tree(), node)) {
            if (folder_tree::NodeId(Tree(), node) == id)
                return node;
            if (HTREEITEM child = TreeView_GetChild(Tree(), node))
                if (HTREEITEM found = NodeOf(id, child))
                    return found;
        }
        return nullptr;
    }
    std::vector<MESSAGEID> RowIds() {
        std::vector<MESSAGEID> ids;
        for (size_t i = 0; i < window_->Rows().Count(); ++i)
            ids.push_back(window_->Rows().At(i).id);
        return ids;
    }
    std::vector<std::wstring> Panel() const {
        return {WindowText(window_->Panel().LabelFolderId()),
                WindowText(window_->Panel().LabelcSubFolders()),
                WindowText(window_->Panel().LabelFolderType()),
                WindowText(window_->Panel().LabelcMessage()),
                WindowText(window_->Panel().LabelcUnread())};
    }
    // Calls recorded from `first` on, matching a name.
    std::vector<std::string> CallsNamed(std::initializer_list<const char*> names) const {
        std::vector<std::string> picked;
        for (const std::string& call : store_->CallsWithReleases())
            for (const char* name : names)
                if (call.rfind(name, 0) == 0)
                    picked.push_back(call);
        return picked;
    }
};

TEST_F(FolderTreeWindowTest, StartUpSelectsAndLoadsTheFirstTopLevelFolder) {
    store_->AddFolder(3, 2, "Reports", FOLDER_DELETED);
    store_->AddMessage(1, storedouble::Message(12, "Bob Example <bob@example.com>", "Re: Hello",
                                               MSGSTATE_FLAGGED));
    Start();
    EXPECT_EQ(SelectedId(), 1u);
    EXPECT_EQ(window_->CurrentFolderId(), 1u);
    EXPECT_THAT(Panel(), ElementsAre(L"1", L"0", L"Default INBOX folder", L"2", L"1"));
    ASSERT_THAT(RowIds(), ElementsAre(11u, 12u));
    const MessageRow& unread = window_->Rows().At(0);
    EXPECT_EQ(unread.image, 1);
    EXPECT_FALSE(unread.flagged);
    EXPECT_EQ(unread.from, L"Alice Example <alice@example.org>");
    EXPECT_EQ(window_->Rows().At(1).image, 0);
    EXPECT_TRUE(window_->Rows().At(1).flagged);
    EXPECT_EQ(SendMessageW(window_->ListViewMessages(), LVM_GETITEMCOUNT, 0, 0), 2);
    // The nested folder is shown expanded under its parent, with its picture.
    HTREEITEM archive = NodeOf(2);
    ASSERT_TRUE(archive);
    EXPECT_TRUE(TreeView_GetItemState(Tree(), archive, TVIS_EXPANDED) & TVIS_EXPANDED);
    TVITEMW item{};
    item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
    item.hItem = NodeOf(3);
    ASSERT_TRUE(TreeView_GetItem(Tree(), &item));
    EXPECT_EQ(item.iImage, 4);
    EXPECT_EQ(item.iSelectedImage, 4);
    // The pictures: six folder images on the tree, five message images on the list.
    EXPECT_EQ(ImageList_GetImageCount(window_->ImageListFolders()), 6);
    EXPECT_EQ(ImageList_GetImageCount(window_->ImageListMessages()), 5);
    EXPECT_EQ(TreeView_GetImageList(Tree(), TVSIL_NORMAL), window_->ImageListFolders());
    EXPECT_EQ(ListView_GetImageList(window_->ListViewMessages(), LVSIL_SMALL),
              window_->ImageListMessages());
    // Loaded once, every record handed back, enumeration closed, registered.
    EXPECT_EQ(store_->CountCalls("OpenFolder"), 1);
    EXPECT_EQ(store_->OutstandingMessageProps(), 0);
    EXPECT_EQ(store_->OpenEnumerations(), 0);
    EXPECT_EQ(store_->FolderRegistrations(1), 1u);
    EXPECT_EQ(store_->WrongSizes(), 0);
}

TEST_F(FolderTreeWindowTest, SwitchingFoldersUnregistersTheOldOneBeforeOpeningTheNew) {
    store_->AddFolder(3, 2, "Deleted", FOLDER_DELETED);
    store_->AddMessage(3, storedouble::Message(31, "Carol Example", "Old news"));
    Start();
    store_->ClearCalls();
    TreeView_SelectItem(Tree(), NodeOf(3));
    EXPECT_EQ(window_->CurrentFolderId(), 3u);
    EXPECT_THAT(CallsNamed({"UnregisterNotification", "Release(folder", "OpenFolder",
                            "RegisterNotification"}),
                ElementsAre("UnregisterNotification(folder 1)", "Release(folder 1)",
                            "OpenFolder(3)", "RegisterNotification(folder 3)"));
    EXPECT_EQ(store_->FolderRegistrations(1), 0u);
    EXPECT_EQ(store_->LiveFolderObjects(), 1);
    EXPECT_THAT(RowIds(), ElementsAre(31u));
    EXPECT_THAT(Panel(), ElementsAre(L"3", L"0", L"Default DELETED folder", L"1", L"0"));
    // The old folder's notifications no longer reach the list.
    EXPECT_EQ(store_->NotifyNewMessage(1, 11), 0);
}

TEST_F(FolderTreeWindowTest, ReselectingOrRebuildingOnTheCurrentFolderDoesNotReload) {
    Start();
    store_->ClearCalls();
    window_->TreeViewFoldersChange(TreeView_GetSelection(Tree()));
    window_->RebuildTree(1);
    EXPECT_EQ(store_->CountCalls("OpenFolder"), 0);
    EXPECT_EQ(store_->CountCalls("GetFolderProps"), 0);
    EXPECT_EQ(SelectedId(), 1u);
    // A null node changes nothing either.
    window_->TreeViewFoldersChange(nullptr);
    EXPECT_EQ(window_->CurrentFolderId(), 1u);
}

// A rebuild frees every node: an edit of one of them must not outlive it.
TEST_F(FolderTreeWindowTest, ARebuildCancelsALabelEditInProgress) {
    Start();
    HWND edit = TreeView_EditLabel(Tree(), NodeOf(2));
    ASSERT_TRUE(edit);
    SetWindowTextW(edit, L"Typed");
    store_->AddFolder(5, 0, "New");
    store_->NotifyFolder(NEW_FOLDER, 0, 5);
    EXPECT_EQ(TreeView_GetEditControl(Tree()), nullptr);
    EXPECT_FALSE(IsWindow(edit));
    PumpUntilIdle();
    EXPECT_EQ(store_->CountCalls("RenameFolder"), 0);
    EXPECT_EQ(SelectedId(), 1u);
}

TEST_F(FolderTreeWindowTest, RebuildWithZeroReturnsToTheFirstFolderAndLoadsIt) {
    Start();
    TreeView_SelectItem(Tree(), NodeOf(2));
    ASSERT_EQ(window_->CurrentFolderId(), 2u);
    store_->ClearCalls();
    window_->RebuildTree(0);
    EXPECT_EQ(SelectedId(), 1u);
    EXPECT_EQ(window_->CurrentFolderId(), 1u);
    EXPECT_EQ(store_->CountCalls("OpenFolder"), 1);
    EXPECT_FALSE(window_->SuppressTreeChange());
}

TEST_F(FolderTreeWindowTest, PanelKeepsItsLabelsWhenThePropertiesCannotBeRead) {
    store_->AddFolder(5, 0, "Odd", 7);
    Start();
    ASSERT_THAT(Panel(), ElementsAre(L"1", L"0", L"Default INBOX folder", L"1", L"1"));
    // A type outside -1..4 leaves only the type label as it was.
    TreeView_SelectItem(Tree(), NodeOf(5));
    EXPECT_THAT(Panel(), ElementsAre(L"5", L"0", L"Default INBOX folder", L"0", L"0"));
    store_->FailOn("GetFolderProps");
    TreeView_SelectItem(Tree(), NodeOf(2));
    EXPECT_THAT(Panel(), ElementsAre(L"5", L"0", L"Default INBOX folder", L"0", L"0"));
    EXPECT_EQ(window_->CurrentFolderId(), 2u);
}

TEST_F(FolderTreeWindowTest, PanelShowsCountsAsTheStoreReportsThem) {
    storedouble::FolderSpec odd;
    odd.id = 6;
    odd.name = "Counts";
    odd.subFolders = -2;
    odd.messages = 4000000000u;
    odd.unread = 3000000000u;
    store_->AddFolder(odd);
    Start();
    TreeView_SelectItem(Tree(), NodeOf(6));
    EXPECT_THAT(Panel(),
                ElementsAre(L"6", L"-2", L"Not a special folder", L"4000000000", L"3000000000"));
}

TEST_F(FolderTreeWindowTest, AFolderThatCannotBeOpenedShowsAnEmptyListAndRegistersNothing) {
    store_->AddMessage(2, storedouble::Message(21, "Dan Example", "Archived"));
    Start();
    store_->FailOn("OpenFolder");
    TreeView_SelectItem(Tree(), NodeOf(2));
    EXPECT_THAT(RowIds(), IsEmpty());
    EXPECT_EQ(SendMessageW(window_->ListViewMessages(), LVM_GETITEMCOUNT, 0, 0), 0);
    EXPECT_EQ(window_->OpenedFolder(), nullptr);
    EXPECT_EQ(store_->FolderRegistrations(1), 0u);
    EXPECT_EQ(store_->FolderRegistrations(2), 0u);
    EXPECT_EQ(store_->LiveFolderObjects(), 0);
}

TEST_F(FolderTreeWindowTest, AFolderWhoseFirstMessageFailsIsStillRegistered) {
    store_->AddMessage(2, storedouble::Message(21, "Dan Example", "Archived"));
    Start();
    store_->FailOn("GetFirstMessage");
    TreeView_SelectItem(Tree(), NodeOf(2));
    EXPECT_THAT(RowIds(), IsEmpty());
    EXPECT_NE(window_->OpenedFolder(), nullptr);
    EXPECT_EQ(store_->FolderRegistrations(2), 1u);
    EXPECT_EQ(store_->CountCalls("GetMessageClose"), 1); // only the start-up's
}

TEST_F(FolderTreeWindowTest, AStoreWithoutFoldersLeavesTreeAndListEmpty) {
    store_->RemoveFolder(1);
    store_->RemoveFolder(2);
    Start();
    EXPECT_EQ(TreeView_GetCount(Tree()), 0u);
    EXPECT_EQ(window_->CurrentFolderId(), 0u);
    EXPECT_EQ(window_->OpenedFolder(), nullptr);
    EXPECT_EQ(store_->NamespaceRegistrations(), 1u);
}

} // namespace
} // namespace maintest
