// The reading pane in the window: it follows the list, reads big messages in
// slices, empties when its message goes, never shows a box for a store
// failure, and saves attachments exactly, even when the message goes while
// the save dialog is open.
#include "MainUnitTestSupport.h"

#include "ui/Dpi.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace maintest {
namespace {

namespace fs = std::filesystem;

std::string Binary() {
    std::string bytes;
    for (int i = 0; i < 512; ++i)
        bytes.push_back(static_cast<char>(i & 0xFF));
    return bytes;
}

std::string Base64(const std::string& in) {
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        for (int k = 18; k >= 0; k -= 6)
            out.push_back(kAlphabet[(v >> k) & 63]);
        if (out.size() % 78 == 76)
            out += "\r\n";
    }
    if (i + 1 == in.size()) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16;
        out += std::string{kAlphabet[(v >> 18) & 63], kAlphabet[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8);
        out += std::string{kAlphabet[(v >> 18) & 63], kAlphabet[(v >> 12) & 63],
                           kAlphabet[(v >> 6) & 63], '='};
    }
    return out;
}

// Two attachments of one name, and `padding` bytes of text before them.
std::string WithAttachments(size_t padding = 0) {
    std::string source =
        "From: Alice <alice@example.org>\r\nSubject: =?utf-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee the files.\r\n";
    for (size_t at = 0; at < padding; at += 64)
        source += "Words of a long letter, line after line, as people write them.\r\n";
    for (int n = 0; n < 2; ++n) {
        source += "--b\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Disposition: attachment; filename=\"../a.bin\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n" +
                  Base64(Binary().substr(static_cast<size_t>(n))) + "\r\n";
    }
    return source + "--b--\r\n";
}

std::string FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ReadingPaneTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        store_->Message(1, 11).source = WithAttachments();
        auto plain = storedouble::Message(12, "Bob", "Plain");
        plain.source = "Subject: Plain\r\n\r\nJust words.\r\n";
        store_->AddMessage(1, plain);
        dir_ = fs::temp_directory_path() / ("bris-pane-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        Start();
        window_->ToggleReadingPane();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        fs::remove_all(dir_);
    }
    HWND List() const { return window_->ListViewMessages(); }
    void Select(std::initializer_list<int> rows) {
        ListView_SetItemState(List(), -1, 0, LVIS_SELECTED);
        for (int row : rows)
            ListView_SetItemState(List(), row, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
        PumpUntilIdle(0);
    }
    ReadingPane& Pane() { return window_->Reading(); }
    // The window itself stays hidden in tests: the pane's own style tells.
    bool PaneShown() const {
        return (GetWindowLongW(window_->Reading().Handle(), GWL_STYLE) & WS_VISIBLE) != 0;
    }

    fs::path dir_;
};

TEST_F(ReadingPaneTest, FollowsTheListAndEmptiesWhenTheMessageGoes) {
    ASSERT_TRUE(PaneShown());
    EXPECT_EQ(Pane().Text(), L"No message is selected.");
    Select({0});
    EXPECT_NE(Pane().Text().find(L"Subject: Gr\u00fc\u00dfe\n\nSee the files."), std::wstring::npos)
        << Pane().Text();
    ASSERT_EQ(Pane().Attachments().size(), 2u);
    EXPECT_EQ(Pane().Attachments()[1].size, 511u);
    Select({0, 1});
    EXPECT_EQ(Pane().Text(), L"2 messages are selected; select one to read it.");
    Select({1});
    EXPECT_NE(Pane().Text().find(L"Just words."), std::wstring::npos);
    EXPECT_TRUE(Pane().Attachments().empty());

    // Deleted by another program: the pane lets go of it at once.
    store_->RemoveMessage(1, 12);
    store_->NotifyDeleteMessage(1, 12);
    store_->DeliverPending();
    EXPECT_EQ(Pane().Folder(), nullptr);
    EXPECT_EQ(Pane().Text(), L"No message is selected.");
    EXPECT_EQ(store_->LiveMessageStreams(), 0);

    // F8 again: the window is as it was, the pane holds nothing.
    window_->ToggleReadingPane();
    EXPECT_FALSE(PaneShown());
    EXPECT_EQ(PlaceOf(List()).bottom - PlaceOf(List()).top, ui::Scale(304, ui::ScreenDpi()));
}

// A held key's repeats open no message; the row the key stops on shows once
// the focus rests.
TEST_F(ReadingPaneTest, AHeldKeyReadsOnlyTheRowItStopsOn) {
    Select({0});
    store_->ClearCalls();
    MSG repeat{List(), WM_KEYDOWN, VK_DOWN, 1 | (1 << 30), 0, {}};
    EXPECT_FALSE(window_->PreTranslate(repeat));
    DispatchMessageW(&repeat);
    // What is posted runs; what waits for the rest timer does not.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, WM_TIMER - 1, PM_REMOVE) ||
           PeekMessageW(&message, nullptr, WM_TIMER + 1, 0xFFFF, PM_REMOVE))
        DispatchMessageW(&message);
    EXPECT_EQ(store_->CountCalls("OpenMessage"), 0);
    EXPECT_EQ(Pane().MessageId(), 11u);
    PumpUntilIdle(150);
    EXPECT_EQ(Pane().MessageId(), 12u);
    EXPECT_EQ(store_->CountCalls("OpenMessage"), 1);
}

TEST_F(ReadingPaneTest, AStoreFailureLeavesALineNotABox) {
    store_->FailOn("OpenMessage", E_ACCESSDENIED);
    Select({1});
    EXPECT_EQ(Pane().Text(), L"The message cannot be read (0x80070005).");
    store_->ClearFailures();
    store_->Message(1, 11).breakAt = 300 * 1024;
    store_->Message(1, 11).source = WithAttachments(600 * 1024);
    Select({0});
    PumpUntilIdle(100);
    EXPECT_EQ(Pane().Text().rfind(L"The message cannot be read", 0), 0u) << Pane().Text();
    EXPECT_TRUE(modal_.shown.empty());
    EXPECT_TRUE(modal_.errors.empty());
}

TEST_F(ReadingPaneTest, ABigMessageShowsItsStartFirstAndTheRestFromTheQueue) {
    store_->Message(1, 11).source = WithAttachments(12 * 1024 * 1024);
    ListView_SetItemState(List(), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    Pane().Follow();
    // Without the queue running, only the first slice is read.
    EXPECT_FALSE(Pane().Complete());
    EXPECT_NE(Pane().Text().find(L"See the files."), std::wstring::npos);
    EXPECT_TRUE(Pane().Attachments().empty());
    PumpUntilIdle(100);
    EXPECT_TRUE(Pane().Complete());
    EXPECT_EQ(Pane().Attachments().size(), 2u);
    EXPECT_NE(Pane().Text().find(L"[The rest of the text is not shown"), std::wstring::npos);
}

TEST_F(ReadingPaneTest, AttachmentsAreSavedExactlyUnderSafeNames) {
    Select({0});
    ASSERT_EQ(Pane().Attachments().size(), 2u);
    // The message goes while the dialog is open; what was chosen is still saved.
    modal_.saveAnswers = {(dir_ / "one.bin").wstring()};
    modal_.onShow = [this](const storedouble::ScriptedModalHost::Shown& shown) {
        if (shown.kind != L"save")
            return;
        store_->RemoveMessage(1, 11);
        store_->NotifyDeleteMessage(1, 11);
        store_->DeliverPending();
    };
    Pane().onSave(0);
    ASSERT_EQ(modal_.saveRequests.size(), 1u);
    EXPECT_EQ(modal_.saveRequests[0].fileName, L"a.bin");
    EXPECT_EQ(FileBytes(dir_ / "one.bin"), Binary());
    EXPECT_EQ(Pane().Folder(), nullptr);
    modal_.onShow = nullptr;

    // Save all: the same name twice is told apart, and an existing file is
    // replaced only when the user says so.
    store_->AddMessage(1, [] {
        auto m = storedouble::Message(13, "C", "Again");
        m.source = WithAttachments();
        return m;
    }());
    store_->NotifyNewMessage(1, 13);
    store_->DeliverPending();
    Select({1});
    ASSERT_EQ(Pane().Attachments().size(), 2u);
    { std::ofstream(dir_ / "a.bin") << "keep me"; }
    modal_.folderAnswers = {dir_.wstring()};
    modal_.messageAnswers = {IDNO};
    Pane().onSaveAll();
    EXPECT_EQ(FileBytes(dir_ / "a.bin"), "keep me");
    EXPECT_EQ(FileBytes(dir_ / "a (2).bin"), Binary().substr(1));
    EXPECT_TRUE(modal_.errors.empty());
}

} // namespace
} // namespace maintest
