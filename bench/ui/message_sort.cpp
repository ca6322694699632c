// Sorting and finding in 100,000 rows. Each sort (keys taken from the rows,
// sorted, the new order shown with the selection kept) against
// std::stable_sort of the same keys with the same comparison; and a find that
// looks at every row.
#include "BenchSupport.h"
#include "ListHost.h"
#include "main/views/MessageFind.h"
#include "main/views/MessageListSync.h"
#include "main/views/MessageSort.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRows = 100000;

// Rows in no particular order of any column, the same every run.
void Fill(MessageRows& rows) {
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    rows.Clear();
    for (int i = 0; i < kRows; ++i) {
        MessageRow row;
        row.id = static_cast<MESSAGEID>(i + 1);
        row.flagged = next() % 11 == 0;
        // One sender in eight beyond ASCII, as names with accents are.
        const uint32_t sender = next() % 997;
        row.from = (sender % 8 == 0 ? L"Ren\x00e9e " : L"Sender ") + std::to_wstring(sender) +
                   L" <sender@example.org>";
        row.subject = L"Subject line number " + std::to_wstring(next() % 100000);
        row.received.fixed = false;
        row.received.local = 133500000000000000ull + uint64_t{next()} * 10000000ull;
        rows.Append(row);
    }
}

template <typename Key, typename Compare>
double Baseline(const std::vector<Key>& keys, Compare compare) {
    std::vector<Key> copy;
    return bench::BestOf(
        3, [&] { copy = keys; },
        [&] {
            std::stable_sort(copy.begin(), copy.end(),
                             [&](const Key& a, const Key& b) { return compare(a, b) < 0; });
        });
}

template <typename Key> int CompareValues(const Key& a, const Key& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareTexts(const std::wstring& a, const std::wstring& b) {
    return message_sort::CompareText(a, b);
}

double Baseline(const MessageRows& rows, int column) {
    switch (column) {
    case message_sort::kFrom:
    case message_sort::kSubject:
        return Baseline(rows.Texts(column), CompareTexts);
    case message_sort::kReceived:
        return Baseline(rows.ReceivedKeys(), CompareValues<uint64_t>);
    default: // flagged first
        return Baseline(rows.Flags(), [](uint8_t a, uint8_t b) { return CompareValues(b, a); });
    }
}

} // namespace

int main() {
    bench::InitControls();
    bench::ListHost window(L"BenchSortHost");
    HWND host = window.Host();
    HWND list = window.List();
    MessageRows& rows = window.Rows();

    std::printf("message list sort, %d rows (ms; best of 3; ratio at most 2 wanted)\n", kRows);
    std::printf("%10s %12s %14s %8s\n", "column", "list sort", "stable_sort", "ratio");
    const char* names[] = {"From", "Subject", "Received", "Flag"};
    for (int column = message_sort::kFrom; column <= message_sort::kFlag; ++column) {
        Fill(rows);
        list_sync::ShowAppended(list, rows);
        bench::Paint(host);
        const double baseline = Baseline(rows, column);
        bool descending = false;
        const double sorted = bench::BestOf(3, nullptr, [&] {
            // Each run reverses the last, so every run really moves the rows.
            message_sort::SortOrder order{column, descending};
            descending = !descending;
            list_sync::Reorder(list, rows, message_sort::SortedOrder(rows, order));
        });
        std::printf("%10s %12.1f %14.1f %8.2f\n", names[column], sorted, baseline,
                    sorted / baseline);
    }

    std::printf("\nfind in %d rows, one sender in eight beyond ASCII, no row matching: every row "
                "looked at (ms; best of 3; at most 50 wanted)\n",
                kRows);
    Fill(rows);
    for (const wchar_t* text : {L"no such text", L"n\x00f6 such t\x00e9xt"}) {
        std::ptrdiff_t found = 0;
        const double took =
            bench::BestOf(3, nullptr, [&] { found = message_find::Next(rows, text, 0, true); });
        std::printf("%14s %12.1f %s\n", text[1] == L'o' ? "ASCII text" : "accented text", took,
                    found < 0 ? "" : "(a row matched: not a full pass)");
    }
    return 0;
}
