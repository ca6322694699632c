// "Properties" and "Save to file" against the store double: the dialog's
// texts and source, saving through a temporary file, and every record and
// stream handed back on every path.
#include "MainUnitTestSupport.h"
#include "main/commands/MessageSourceCommands.h"
#include "UnitMessProps.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using maintest::WindowText;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Lines(size_t bytes, const char* first) {
    std::string text = first;
    while (text.size() < bytes)
        text += "Line " + std::to_string(text.size()) + " of a long message body.\r\n";
    text.resize(bytes);
    return text;
}

class MessageSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store_->AddFolder(1, 0, "Inbox", FOLDER_INBOX);
        auto message = storedouble::Message(7, "Tom & Jerry <tj@example.org>", "Quarterly &report");
        message.to = "Team <team@example.org>";
        message.source = "From: tj@example.org\r\nSubject: Quarterly\r\n\r\nBody\r\n";
        store_->AddMessage(1, message);
        ASSERT_EQ(store_->OpenFolder(1, 0, &folder_), S_OK);
        dir_ = fs::temp_directory_path() / ("bris-save-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        folder_.Reset();
        EXPECT_EQ(store_->OutstandingMessageProps(), 0);
        EXPECT_EQ(store_->UnknownFrees(), 0);
        EXPECT_EQ(store_->LiveMessageStreams(), 0);
        fs::remove_all(dir_);
    }

    // Runs "Properties" on message 7; `look` sees the dialog as it is shown.
    void Properties(std::function<void(TFormMessProps&)> look) {
        modal_.dialogScripts.push_back([look](ui::ModalDialog& dialog) {
            auto* props = dynamic_cast<TFormMessProps*>(&dialog);
            EXPECT_NE(props, nullptr);
            if (props)
                look(*props);
            return INT_PTR{IDOK};
        });
        message_source::ShowProperties(folder_.Get(), 7, nullptr, modal_);
    }

    std::vector<fs::path> Files() const {
        return {fs::directory_iterator(dir_), fs::directory_iterator()};
    }

    maintest::ComApartment com_;
    Microsoft::WRL::ComPtr<storedouble::StoreDouble> store_ = storedouble::StoreDouble::Create();
    Microsoft::WRL::ComPtr<IStoreFolder> folder_;
    storedouble::ScriptedModalHost modal_;
    fs::path dir_;
};

TEST(MessagePropsTexts, PriorityAndSize) {
    MESSAGEPROPS props{};
    props.dwMessageId = 0xFFFFFFFFu;
    props.cbMessage = 1234;
    const std::pair<DWORD, const wchar_t*> priorities[] = {
        {1, L"High"}, {2, L"0"}, {3, L"Normal"}, {4, L"0"}, {5, L"Low"}, {0, L"0"}};
    for (auto [priority, text] : priorities) {
        props.priority = priority;
        EXPECT_EQ(message_source::TextsOf(props).priority, text) << priority;
    }
    auto texts = message_source::TextsOf(props);
    EXPECT_EQ(texts.size, L"1234 byte");
    EXPECT_EQ(texts.messageId, L"4294967295");
    EXPECT_EQ(texts.to, L""); // a null text reads as empty
}

TEST_F(MessageSourceTest, PropertiesShowLabelsLiterallyAndRichTextAsText) {
    store_->Message(1, 7).source = "{\\rtf1\\ansi {\\b bold}\\par}\r\nSecond line";
    Properties([](TFormMessProps& dialog) {
        EXPECT_EQ(WindowText(dialog.LabelMessageId()), L"7");
        EXPECT_EQ(WindowText(dialog.LabelFrom()), L"Tom & Jerry <tj@example.org>");
        EXPECT_EQ(WindowText(dialog.LabelSubject()), L"Quarterly &report");
        EXPECT_TRUE(GetWindowLongW(dialog.LabelSubject(), GWL_STYLE) & SS_NOPREFIX);
        EXPECT_EQ(WindowText(dialog.LabelTo()), L"Team <team@example.org>");
        EXPECT_EQ(WindowText(dialog.LabelPriority()), L"Normal");
        std::wstring source = WindowText(dialog.RichEdit1());
        EXPECT_EQ(source.rfind(L"{\\rtf1\\ansi {\\b bold}\\par}", 0), 0u) << source.substr(0, 60);
        EXPECT_NE(source.find(L"Second line"), std::wstring::npos);
    });
    EXPECT_EQ(store_->CountCalls("FreeMessageProps"), 1);
    EXPECT_TRUE(modal_.errors.empty());
}

TEST_F(MessageSourceTest, PropertiesShowAFiveMegabyteSourceWhole) {
    const std::string source = Lines(5 * 1024 * 1024, "Subject: big\r\n\r\n");
    store_->Message(1, 7).source = source;
    Properties([&](TFormMessProps& dialog) {
        while (dialog.LoadMore(10000)) {
        }
        // The box keeps a line end as one character; all the rest is there.
        std::wstring shown = WindowText(dialog.RichEdit1());
        std::erase_if(shown, [](wchar_t c) { return c == L'\r' || c == L'\n'; });
        std::string wanted = source;
        std::erase_if(wanted, [](char c) { return c == '\r' || c == '\n'; });
        EXPECT_TRUE(shown == std::wstring(wanted.begin(), wanted.end())) << shown.size();
        EXPECT_EQ(WindowText(dialog.LabelSize()), std::to_wstring(source.size()) + L" byte");
    });
}

// The store cannot hand out the source at one of the steps: the properties
// still show, the box stays empty, and everything goes back to the store.
TEST_F(MessageSourceTest, PropertiesWithoutSourceShowAnEmptyBox) {
    // A status that is no failure but no plain S_OK either counts as failed too.
    const std::pair<const char*, HRESULT> steps[] = {{"OpenMessage", E_FAIL},
                                                     {"Stat", E_FAIL},
                                                     {"CopyTo", E_FAIL},
                                                     {"Stat", S_FALSE},
                                                     {"CopyTo", S_FALSE}};
    for (const auto& failure : steps) {
        const char* step = failure.first;
        store_->FailOn(step, failure.second);
        bool shown = false;
        Properties([&](TFormMessProps& dialog) {
            shown = true;
            EXPECT_EQ(WindowText(dialog.LabelFrom()), L"Tom & Jerry <tj@example.org>") << step;
            EXPECT_EQ(GetWindowTextLengthW(dialog.RichEdit1()), 0) << step;
        });
        EXPECT_TRUE(shown) << step;
        EXPECT_EQ(store_->OutstandingMessageProps(), 0) << step;
        EXPECT_EQ(store_->LiveMessageStreams(), 0) << step;
        store_->ClearFailures();
    }
    store_->FailOn("GetMessageProps");
    message_source::ShowProperties(folder_.Get(), 7, nullptr, modal_);
    EXPECT_EQ(modal_.shown.size(), 5u); // nothing shown for an unreadable record
    EXPECT_EQ(store_->CountCalls("FreeMessageProps"), 5);
}

TEST_F(MessageSourceTest, SaveAsksOnlyWithARowAndReplacesALongerFileWhole) {
    message_source::SaveToFile(folder_.Get(), std::nullopt, nullptr, modal_);
    EXPECT_TRUE(modal_.saveRequests.empty());

    const fs::path target = dir_ / "message.eml";
    WriteFile(target, std::string(10000, 'x'));
    modal_.saveAnswers.push_back(target.wstring());
    message_source::SaveToFile(folder_.Get(), 7, nullptr, modal_);

    ASSERT_EQ(modal_.saveRequests.size(), 1u);
    const ui::SaveFileRequest& asked = modal_.saveRequests[0];
    EXPECT_EQ(asked.title, L"Save message to file");
    EXPECT_EQ(asked.filter, L"eml|*.eml");
    EXPECT_EQ(asked.defaultExtension, L"eml");
    const DWORD wanted = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    EXPECT_EQ(asked.flags & (wanted | OFN_READONLY), wanted);
    EXPECT_EQ(ReadFile(target), store_->Message(1, 7).source);
    EXPECT_EQ(Files().size(), 1u); // no temporary file left
    EXPECT_TRUE(modal_.errors.empty());
}

// A source that breaks off, or whose size or copy fails, leaves the file the
// user chose as it was, no temporary file, and an error box naming the file.
TEST_F(MessageSourceTest, FailedSaveKeepsTheExistingFile) {
    const fs::path target = dir_ / "keep.eml";
    const std::string before = "An older message that must survive.\r\n";
    WriteFile(target, before);
    store_->Message(1, 7).source = Lines(100000, "Subject: x\r\n\r\n");
    for (const char* failure : {"breakAt", "Stat", "CopyTo"}) {
        if (std::string(failure) == "breakAt")
            store_->Message(1, 7).breakAt = 50000;
        else
            store_->FailOn(failure);
        modal_.saveAnswers.push_back(target.wstring());
        message_source::SaveToFile(folder_.Get(), 7, nullptr, modal_);
        EXPECT_EQ(ReadFile(target), before) << failure;
        EXPECT_EQ(Files().size(), 1u) << failure;
        ASSERT_FALSE(modal_.errors.empty()) << failure;
        EXPECT_EQ(modal_.errors.back(), L"Cannot write file " + target.wstring());
        modal_.errors.clear();
        store_->ClearFailures();
        store_->Message(1, 7).breakAt.reset();
    }
}

TEST_F(MessageSourceTest, SaveToAFileThatCannotBeCreated) {
    const fs::path target = dir_ / "no such folder" / "m.eml";
    modal_.saveAnswers.push_back(target.wstring());
    message_source::SaveToFile(folder_.Get(), 7, nullptr, modal_);
    ASSERT_EQ(modal_.errors.size(), 1u);
    EXPECT_EQ(modal_.errors[0], L"Cannot create file " + target.wstring());
    EXPECT_FALSE(fs::exists(target));
}

} // namespace

namespace {

// The main window runs the commands on the row the user means: Enter through
// the dialog manager as the program's loop calls it, a double-click, the menu.
class MessageSourceWindowTest : public maintest::MainWindowTest {
  protected:
    void ExpectProperties() {
        modal_.dialogScripts.push_back([this](ui::ModalDialog& dialog) {
            auto* props = dynamic_cast<TFormMessProps*>(&dialog);
            ids_.push_back(props ? WindowText(props->LabelMessageId()) : L"not properties");
            return INT_PTR{IDOK};
        });
    }
    void Select(int row) {
        ListView_SetItemState(window_->ListViewMessages(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        if (row >= 0)
            ListView_SetItemState(window_->ListViewMessages(), row, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
    }
    std::vector<std::wstring> ids_;
};

TEST_F(MessageSourceWindowTest, EnterDoubleClickAndMenuRunTheCommandsOnTheirRow) {
    store_->AddMessage(1, storedouble::Message(12, "Bob <bob@example.org>", "Second"));
    Start();
    HWND list = window_->ListViewMessages();
    ASSERT_EQ(ListView_GetItemCount(list), 2);

    Select(1);
    SetFocus(list);
    MSG enter{list, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    ExpectProperties();
    if (!IsDialogMessageW(window_->Handle(), &enter))
        DispatchMessageW(&enter);

    RECT first{};
    ListView_GetItemRect(list, 0, &first, LVIR_LABEL);
    ExpectProperties();
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(first.left + 2, first.top + 2));
    EXPECT_EQ(ids_, (std::vector<std::wstring>{L"12", L"11"}));

    // With nothing selected neither command asks or shows anything.
    Select(-1);
    window_->RunCommand(IDM_PROPERTIES1);
    window_->RunCommand(IDM_SAVETOFILE1);
    EXPECT_EQ(modal_.shown.size(), 2u);
    EXPECT_EQ(store_->OutstandingMessageProps(), 0);
}

} // namespace
