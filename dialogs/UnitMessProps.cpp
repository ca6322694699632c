#include "UnitMessProps.h"

#include "ui/Dpi.h"

#include <richedit.h>

#include <algorithm>
#include <limits>

namespace {

constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr int kLabelHeight = 13;
constexpr int kRuleLeft = 8;
constexpr int kRuleWidth = 386;

struct Row {
    int caption; // caption label's id
    int captionX;
    int valueId;
    int valueX;
    int y;
};
constexpr Row kRows[] = {
    {IDC_MP_CAPTION_FIRST + 0, 20, IDC_LABELMESSAGEID, 94, 4},
    {IDC_MP_CAPTION_FIRST + 1, 19, IDC_LABELTO, 72, 22},
    {IDC_MP_CAPTION_FIRST + 2, 20, IDC_LABELFROM, 72, 38},
    {IDC_MP_CAPTION_FIRST + 3, 19, IDC_LABELSUBJECT, 72, 54},
    {IDC_MP_CAPTION_FIRST + 4, 20, IDC_LABELSIZE, 72, 80},
    {IDC_MP_CAPTION_FIRST + 5, 20, IDC_LABELPRIORITY, 72, 96},
    {IDC_MP_CAPTION_FIRST + 6, 20, IDC_LABELSENT, 72, 126},
    {IDC_MP_CAPTION_FIRST + 7, 20, IDC_LABELRECEIVED, 72, 142},
};
constexpr int kRuleY[] = {73, 118, 162};

struct StreamCookie {
    IStream* source;
    unsigned long long left;
};

// Hands the box the source's bytes; any read failure aborts the load.
DWORD CALLBACK ReadSourceChunk(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got) {
    auto* state = reinterpret_cast<StreamCookie*>(cookie);
    *got = 0;
    const ULONG ask = static_cast<ULONG>(
        std::min<unsigned long long>(state->left, static_cast<unsigned long long>(wanted)));
    if (ask == 0)
        return 0;
    ULONG read = 0;
    HRESULT status = state->source->Read(buffer, ask, &read);
    if (FAILED(status) || read == 0)
        return 1;
    state->left -= read;
    *got = static_cast<LONG>(read);
    return 0;
}

// The source box's window class, loaded once: loading it costs more than
// showing a small message.
class RichEditModule {
  public:
    RichEditModule() : module_(LoadLibraryW(L"riched20.dll")) {}
    ~RichEditModule() {
        if (module_)
            FreeLibrary(module_);
    }
    RichEditModule(const RichEditModule&) = delete;
    RichEditModule& operator=(const RichEditModule&) = delete;

  private:
    HMODULE module_;
};

} // namespace

TFormMessProps::TFormMessProps() : ui::Dialog(GetModuleHandleW(nullptr), IDD_MESSPROPS) {
    static RichEditModule richEdit;
}

void TFormMessProps::OnInit() {
    bold_ = DerivedFont(FW_BOLD, false);
    for (int id : {IDC_MP_CAPTION_FIRST + 0, IDC_LABELMESSAGEID})
        SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(bold_.Get()), FALSE);
    for (const Row& row : kRows)
        if (row.valueId != IDC_LABELMESSAGEID)
            SetTextColour(row.valueId, kNavy);
    // Only ever plain text: a source is untrusted mail, never rich text or objects.
    SendMessageW(RichEdit1(), EM_SETTEXTMODE, TM_PLAINTEXT, 0);
    // No word wrap: wrapping a long line costs the box time in the square of
    // its length, and a message may hold one line of megabytes.
    SendMessageW(RichEdit1(), EM_SETTARGETDEVICE, 0, 1);
    PlaceControls();
}

void TFormMessProps::PlaceControls() {
    SizeAndCentre(kClientWidth, kClientHeight);
    const int dpi = Dpi();
    for (const Row& row : kRows) {
        // A caption wider in this font than in the design pushes its value right
        // instead of being cut off.
        const RECT caption = ui::ScaleRect(row.captionX, row.y, 0, kLabelHeight, dpi);
        const int captionRight = caption.left + TextWidth(row.caption);
        const int valueLeft =
            std::max(ui::Scale(row.valueX, dpi), captionRight + ui::Scale(2, dpi));
        PlacePixels(row.caption, {caption.left, caption.top, captionRight, caption.bottom});
        PlacePixels(row.valueId, {valueLeft, caption.top, ui::Scale(kClientWidth - kRuleLeft, dpi),
                                  caption.bottom});
    }
    for (int i = 0; i < 3; ++i)
        Place(IDC_MP_RULE_FIRST + i, kRuleLeft, kRuleY[i], kRuleWidth, 2);
    Place(IDC_MP_SOURCECAPTION, 14, 171, 120, kLabelHeight);
    Place(IDC_RICHEDIT1, 10, 187, 384, 121);
    Place(IDOK, 319, 317, 75, 25);
}

bool TFormMessProps::LoadSource(IStream* source, unsigned long long size) {
    HWND box = RichEdit1();
    if (!box || !source)
        return false;
    // The box would stop at 32,767 characters; a source has at most a
    // character per byte.
    const auto limit = static_cast<LPARAM>(
        std::min<unsigned long long>(size + 1, std::numeric_limits<LONG>::max()));
    SendMessageW(box, EM_EXLIMITTEXT, 0, std::max<LPARAM>(limit, 32767));
    StreamCookie cookie{source, size};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&cookie), 0, ReadSourceChunk};
    SendMessageW(box, EM_STREAMIN, SF_TEXT, reinterpret_cast<LPARAM>(&stream));
    return stream.dwError == 0 && cookie.left == 0;
}
