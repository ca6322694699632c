#include "StoreRecords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(FolderName, FullNameStopsAtTerminatorAndNeverReadsPastRecord) {
    // The record sits at the end of a buffer whose next bytes must never be read.
    std::vector<char> buffer(sizeof(FOLDERPROPS) + 16, 'X');
    auto* props = reinterpret_cast<FOLDERPROPS*>(buffer.data());
    std::memset(props->szName, 'a', 255);
    props->szName[255] = '\0';
    EXPECT_EQ(store::FolderName(*props), std::string(255, 'a'));

    // A store that forgets the terminator still yields at most the field.
    std::memset(props->szName, 'b', sizeof props->szName);
    EXPECT_EQ(store::FolderName(*props).size(), 256u);
    EXPECT_EQ(store::FolderName(*props), std::string(256, 'b'));

    std::strcpy(props->szName, "Inbox");
    EXPECT_EQ(store::FolderName(*props), "Inbox");
}

TEST(MessageText, NullPointersReadAsEmpty) {
    MESSAGEPROPS props = store::NewMessageProps();
    EXPECT_EQ(props.cbSize, 68u);
    EXPECT_EQ(store::Text(props.pszSubject), "");
    EXPECT_EQ(store::Text(props.pszDisplayTo), "");
    EXPECT_EQ(store::Text(props.pszDisplayFrom), "");
    char subject[] = "Hello";
    props.pszSubject = subject;
    EXPECT_EQ(store::Text(props.pszSubject), "Hello");
}

TEST(StateBits, UnreadAndFlaggedAreIndependent) {
    MESSAGEPROPS props = store::NewMessageProps();
    props.dwState = 0x0002 | 0x0800;
    EXPECT_TRUE(store::IsUnread(props));
    EXPECT_TRUE(store::IsFlagged(props));
    props.dwState = 0x0800;
    EXPECT_FALSE(store::IsUnread(props));
    props.dwState = ~0x0802u;
    EXPECT_FALSE(store::IsUnread(props));
    EXPECT_FALSE(store::IsFlagged(props));
}

TEST(FolderType, TextsAndImagesForEveryType) {
    EXPECT_STREQ(store::FolderTypeText(-1), "Not a special folder");
    EXPECT_STREQ(store::FolderTypeText(0), "Default INBOX folder");
    EXPECT_STREQ(store::FolderTypeText(1), "Default OUTBOX folder");
    EXPECT_STREQ(store::FolderTypeText(2), "Default SENT folder");
    EXPECT_STREQ(store::FolderTypeText(3), "Default DELETED folder");
    EXPECT_STREQ(store::FolderTypeText(4), "Default DRAFT folder");
    EXPECT_EQ(store::FolderTypeText(5), nullptr);
    EXPECT_EQ(store::FolderTypeText(-2), nullptr);
    const int images[] = {0, 1, 2, 3, 4, 5};
    for (LONG type = -1; type <= 4; ++type)
        EXPECT_EQ(store::FolderTypeImage(type), images[type + 1]) << type;
    EXPECT_EQ(store::FolderTypeImage(5), 0);
    EXPECT_EQ(store::FolderTypeImage(-7), 0);
}

} // namespace
