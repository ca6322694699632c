// The blocked rows and their id index against a plain vector doing the same.
#include "main/views/MessageRows.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Texts of varied length, some beyond ASCII and one beyond the basic plane; some
// times fixed calendar fields, the rest local file times.
MessageRow Row(MESSAGEID id, int image = 0) {
    MessageRow row;
    row.id = id;
    row.image = image;
    row.flagged = id % 3 == 0;
    row.from = L"From " + std::to_wstring(id);
    row.subject = std::wstring(id % 7, L'x') + (id % 2 ? L"Gr\u00fc\u00dfe \U0001F600" : L"");
    row.received.fixed = id % 5 == 0;
    if (row.received.fixed)
        row.received.fields = SYSTEMTIME{static_cast<WORD>(1899 + id % 200), 12, 6, 30, 23, 59, 58,
                                         static_cast<WORD>(id % 1000)};
    else
        row.received.local = 0x01DC000000000000ull + id * 0x100000001ull;
    return row;
}

std::ptrdiff_t LinearFind(const std::vector<MessageRow>& rows, MESSAGEID id, size_t start = 0) {
    for (size_t i = start; i < rows.size(); ++i)
        if (rows[i].id == id)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

void ExpectSame(const std::vector<MessageRow>& model, const MessageRows& rows) {
    ASSERT_EQ(rows.Count(), model.size());
    for (size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(rows.At(i).id, model[i].id) << "row " << i;
        ASSERT_EQ(rows.At(i).image, model[i].image) << "row " << i;
        const MessageRow row = rows.At(i);
        ASSERT_EQ(row.from, model[i].from) << "row " << i;
        ASSERT_EQ(row.subject, model[i].subject) << "row " << i;
        ASSERT_EQ(row.flagged, model[i].flagged) << "row " << i;
        ASSERT_EQ(row.Received(), model[i].Received()) << "row " << i;
        ASSERT_EQ(rows.ReceivedText(i), model[i].Received()) << "row " << i;
    }
}

TEST(MessageRows, FindsTheFirstRowOfAnIdAmongDuplicates) {
    MessageRows rows;
    for (MESSAGEID id : {5u, 7u, 5u, 9u})
        rows.Append(Row(id));
    EXPECT_EQ(rows.FindFirst(5), 0);
    EXPECT_EQ(rows.FindFrom(5, 1), 2);
    EXPECT_EQ(rows.FindFirst(8), -1);
    rows.Erase(0);
    EXPECT_EQ(rows.FindFirst(5), 1);
    rows.Insert(0, Row(9));
    EXPECT_EQ(rows.FindFirst(9), 0);
    rows.Clear();
    EXPECT_EQ(rows.Count(), 0u);
    EXPECT_EQ(rows.FindFirst(9), -1);
}

TEST(MessageRows, RandomEditsMatchAPlainVector) {
    std::mt19937 random(12345);
    MessageRows rows;
    std::vector<MessageRow> model;
    // Enough rows to need many blocks, splits and emptied blocks.
    for (MESSAGEID id = 0; id < 3000; ++id) {
        rows.Append(Row(id % 700));
        model.push_back(Row(id % 700));
    }
    for (int step = 0; step < 6000; ++step) {
        int action = static_cast<int>(random() % 5);
        if (action == 0 || model.empty()) {
            size_t at = model.empty() ? 0 : random() % (model.size() + 1);
            MESSAGEID id = random() % 900;
            rows.Insert(at, Row(id, 1));
            model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), Row(id, 1));
        } else if (action == 1) {
            size_t at = random() % model.size();
            rows.Erase(at);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        } else if (action == 2) {
            size_t at = random() % model.size();
            rows.SetImage(at, 1);
            model[at].image = 1;
        } else {
            MESSAGEID id = random() % 900;
            size_t start = random() % (model.size() + 1);
            ASSERT_EQ(rows.FindFirst(id), LinearFind(model, id)) << "step " << step;
            ASSERT_EQ(rows.FindFrom(id, start), LinearFind(model, id, start)) << "step " << step;
        }
    }
    ExpectSame(model, rows);
    // A long run of inserts at one place splits the same block again and again.
    for (MESSAGEID id = 0; id < 2000; ++id) {
        rows.Insert(10, Row(5000 + id));
        model.insert(model.begin() + 10, Row(5000 + id));
    }
    ExpectSame(model, rows);
    EXPECT_EQ(rows.FindFirst(5000), LinearFind(model, 5000));
    // Deleting everything from the front empties block after block.
    while (model.size() > 5) {
        rows.Erase(0);
        model.erase(model.begin());
    }
    ExpectSame(model, rows);
    for (const MessageRow& row : model)
        EXPECT_EQ(rows.FindFirst(row.id), LinearFind(model, row.id));
}

TEST(MessageRows, SetAllImagesReachesEveryRow) {
    MessageRows rows;
    for (MESSAGEID id = 0; id < 1500; ++id)
        rows.Append(Row(id, static_cast<int>(id % 2)));
    rows.SetAllImages(1);
    for (size_t i = 0; i < rows.Count(); ++i)
        ASSERT_EQ(rows.At(i).image, 1);
}

} // namespace
