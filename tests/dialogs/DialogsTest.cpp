// The properties and About dialogs as real windows: their places at the
// screen's DPI, what the source box takes, the link, and the modal loop.
#include "UnitAbout.h"
#include "UnitMessProps.h"
#include "ui/Dpi.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <richedit.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

RECT PlaceOf(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExpectPlace(HWND control, int left, int top, int width, int height) {
    const RECT want = ui::ScaleRect(left, top, width, height, ui::ScreenDpi());
    const RECT seen = PlaceOf(control);
    EXPECT_EQ(seen.left, want.left);
    EXPECT_EQ(seen.top, want.top);
    if (width) {
        EXPECT_EQ(seen.right - seen.left, want.right - want.left);
    }
    if (height) {
        EXPECT_EQ(seen.bottom - seen.top, want.bottom - want.top);
    }
}

void ExpectClientAndCentre(HWND dialog, int width, int height) {
    const int dpi = ui::ScreenDpi();
    RECT client{}, frame{}, work{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, ui::Scale(width, dpi));
    EXPECT_EQ(client.bottom, ui::Scale(height, dpi));
    GetWindowRect(dialog, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 1);
    EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & WS_THICKFRAME, 0);
}

std::wstring TextOf(HWND window) {
    return ui::WindowText(window);
}

TEST(MessPropsDialog, LayoutAndInitialTexts) {
    TFormMessProps dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    EXPECT_EQ(TextOf(dialog.Hwnd()), L"Message Properties");
    ExpectClientAndCentre(dialog.Hwnd(), 402, 348);
    for (HWND label :
         {dialog.LabelMessageId(), dialog.LabelTo(), dialog.LabelFrom(), dialog.LabelSubject(),
          dialog.LabelSize(), dialog.LabelPriority(), dialog.LabelSent(), dialog.LabelReceived()}) {
        EXPECT_EQ(TextOf(label), L"0");
        EXPECT_TRUE(GetWindowLongW(label, GWL_STYLE) & SS_NOPREFIX);
    }
    // A value stays at its place unless its caption needs the room in this font;
    // captions are never cut off.
    const int dpi = ui::ScreenDpi();
    const std::pair<HWND, POINT> values[] = {{dialog.LabelMessageId(), {94, 4}},
                                             {dialog.LabelReceived(), {72, 142}}};
    for (auto [value, design] : values) {
        const RECT place = PlaceOf(value);
        HWND caption = GetDlgItem(dialog.Hwnd(), GetDlgCtrlID(value) - 10);
        EXPECT_EQ(place.top, ui::Scale(design.y, dpi));
        EXPECT_GE(place.left, ui::Scale(design.x, dpi));
        EXPECT_LE(PlaceOf(caption).right, place.left);
        EXPECT_TRUE(place.left == ui::Scale(design.x, dpi) ||
                    place.left <= PlaceOf(caption).right + ui::Scale(2, dpi));
    }
    ExpectPlace(dialog.RichEdit1(), 10, 187, 384, 121);
    ExpectPlace(dialog.Button1(), 319, 317, 75, 25);
    EXPECT_EQ(TextOf(dialog.Button1()), L"OK");
    EXPECT_TRUE(GetWindowLongW(dialog.RichEdit1(), GWL_STYLE) & ES_MULTILINE);
}

std::wstring WithoutLineEnds(std::wstring text) {
    std::erase_if(text, [](wchar_t c) { return c == L'\r' || c == L'\n'; });
    return text;
}

Microsoft::WRL::ComPtr<IStream> MemoryStream(const std::string& text, size_t bytes) {
    Microsoft::WRL::ComPtr<IStream> stream;
    stream.Attach(
        SHCreateMemStream(reinterpret_cast<const BYTE*>(text.data()), static_cast<UINT>(bytes)));
    return stream;
}

TEST(MessPropsDialog, SourceBoxTakesPlainTextPastTheDefaultLimitAndReportsBrokenStreams) {
    TFormMessProps dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    std::string text = "{\\rtf1\\ansi {\\b bold}}\r\n";
    while (text.size() < 100000)
        text += std::string(70, 'a' + text.size() % 26) + "\r\n";
    text += std::string(40000, 'z'); // one line longer than the default limit
    auto stream = MemoryStream(text, text.size());
    ASSERT_TRUE(dialog.LoadSource(stream.Get(), text.size()));
    while (dialog.LoadMore(10000)) {
    }
    const std::wstring shown = WithoutLineEnds(TextOf(dialog.RichEdit1()));
    EXPECT_TRUE(shown == WithoutLineEnds(std::wstring(text.begin(), text.end())))
        << shown.substr(0, 40) << " ... " << shown.size() << " characters";
    EXPECT_TRUE(GetWindowLongW(dialog.RichEdit1(), GWL_STYLE) & WS_VSCROLL);

    // The stream says it holds more than it gives.
    stream = MemoryStream(text, 10);
    EXPECT_FALSE(dialog.LoadSource(stream.Get(), text.size()));
    stream = MemoryStream(text, 20000);
    EXPECT_TRUE(dialog.LoadSource(stream.Get(), text.size()));
    EXPECT_FALSE(dialog.LoadMore(10000));
    EXPECT_FALSE(dialog.Loading());
    // A later piece fails: no source cut short is left, and the dialog says it failed.
    EXPECT_TRUE(dialog.SourceFailed());
    EXPECT_EQ(GetWindowTextLengthW(dialog.RichEdit1()), 0);
}

// A big source comes in pieces from idle turns: the first screenful at once,
// the user's place kept, line ends split between pieces kept whole, and OK or
// Escape end the loading at any moment.
TEST(MessPropsDialog, BigSourceFillsTheBoxInPiecesWhileTheDialogAnswers) {
    std::string text;
    int line = 0;
    while (text.size() < 8000)
        text += "Line " + std::to_string(line++) + std::string(60, '.') + "\r\n";
    // The first piece (8 KB) ends between a CR and its LF.
    text += std::string(8191 - text.size(), '-') + "\r\n";
    for (; text.size() < 600000; ++line)
        text += "Line " + std::to_string(line) + std::string(line % 7 ? 60 : 1, '.') + "\r\n";
    TFormMessProps dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    auto stream = MemoryStream(text, text.size());
    ASSERT_TRUE(dialog.LoadSource(stream.Get(), text.size()));
    HWND box = dialog.RichEdit1();
    const LRESULT firstLines = SendMessageW(box, EM_GETLINECOUNT, 0, 0);
    EXPECT_GT(firstLines, 20);
    EXPECT_LT(firstLines, 2000);
    EXPECT_TRUE(dialog.Loading());
    // Focus from the dialog manager selects nothing, so the box stays at its top.
    ShowWindow(dialog.Hwnd(), SW_SHOW);
    SendMessageW(dialog.Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
    dialog.LoadMore(0);
    CHARRANGE caret{-1, -1};
    SendMessageW(box, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    EXPECT_EQ(caret.cpMin, 0); // the box starts at its first line
    EXPECT_EQ(caret.cpMax, 0);

    CHARRANGE mine{100, 120};
    SendMessageW(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&mine));
    dialog.LoadMore(0);
    CHARRANGE after{};
    SendMessageW(box, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&after));
    EXPECT_EQ(after.cpMin, 100);
    EXPECT_EQ(after.cpMax, 120);
    EXPECT_EQ(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    EXPECT_GT(SendMessageW(box, EM_GETLINECOUNT, 0, 0), firstLines);

    // The dialog's own idle turns bring in the rest.
    const DWORD deadline = GetTickCount() + 120000;
    MSG message{};
    while (dialog.Loading() && GetTickCount() < deadline) {
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        else
            WaitMessage();
    }
    EXPECT_FALSE(dialog.Loading());
    const auto lines = static_cast<LRESULT>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(SendMessageW(box, EM_GETLINECOUNT, 0, 0), lines + 1);
    EXPECT_TRUE(WithoutLineEnds(TextOf(box)) ==
                WithoutLineEnds(std::wstring(text.begin(), text.end())));

    for (WORD command : {IDOK, IDCANCEL}) {
        TFormMessProps another;
        ASSERT_TRUE(another.Create(nullptr));
        stream = MemoryStream(text, text.size());
        ASSERT_TRUE(another.LoadSource(stream.Get(), text.size()));
        SendMessageW(another.Hwnd(), WM_COMMAND, command, 0);
        EXPECT_FALSE(another.Loading()) << command;
    }
}

TEST(AboutDialog, LayoutAndLinkHandsOnlyItsCaption) {
    std::vector<std::wstring> opened;
    TFormAbout dialog([&](const std::wstring& target) { opened.push_back(target); });
    ASSERT_TRUE(dialog.Create(nullptr));
    EXPECT_EQ(TextOf(dialog.Hwnd()), L" About Brisvander");
    ExpectClientAndCentre(dialog.Hwnd(), 306, 219);
    EXPECT_EQ(TextOf(dialog.LabelName()), L"Brisvander");
    EXPECT_EQ(TextOf(dialog.LabelVers()), L"v 1.0");
    ExpectPlace(dialog.LabelName(), 158, 15, 0, 0);
    ExpectPlace(dialog.ButtonOK(), 216, 182, 75, 22);
    const std::wstring caption = TextOf(dialog.LabelURL());
    EXPECT_EQ(caption.rfind(L"https://", 0), 0u);

    SendMessageW(dialog.Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_LABELURL, STN_CLICKED),
                 reinterpret_cast<LPARAM>(dialog.LabelURL()));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], caption);
}

struct Probe {
    HWND owner;
    TFormAbout* dialog;
    bool disabled = false;
    bool visible = false;
};
Probe* g_probe = nullptr;

void CALLBACK LookThenClickOK(HWND, UINT, UINT_PTR id, DWORD) {
    if (!g_probe || !g_probe->dialog->Hwnd())
        return;
    KillTimer(nullptr, id);
    g_probe->disabled = !IsWindowEnabled(g_probe->owner);
    g_probe->visible = IsWindowVisible(g_probe->dialog->Hwnd()) != FALSE;
    SendMessageW(g_probe->dialog->ButtonOK(), BM_CLICK, 0, 0);
}

// The real modal loop: the owner is disabled while the dialog runs, OK ends
// it, and the owner is enabled again.
TEST(AboutDialog, RunsModallyOverItsOwnerUntilOK) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    TFormAbout dialog([](const std::wstring&) {});
    Probe probe{owner, &dialog};
    g_probe = &probe;
    // A timer inside the loop looks at the owner, then clicks OK.
    SetTimer(nullptr, 0, 50, LookThenClickOK);
    EXPECT_EQ(dialog.RunModal(owner), IDOK);
    g_probe = nullptr;
    EXPECT_TRUE(probe.disabled);
    EXPECT_TRUE(probe.visible);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_FALSE(IsWindowVisible(dialog.Hwnd()));
    DestroyWindow(owner);
}

} // namespace
