#include "compare/table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kelpie {
namespace {

// No member initialisers: a zero entry comes only from the table's own
// value-initialisation.
struct Row {
  int32_t id;
  int32_t number;
  std::string text;
  Row* ref;
};

using Ids = std::vector<int32_t>;

class TableTest : public ::testing::Test {
 protected:
  // Adds the ids one after another, each behind the one before.
  void Fill(const Ids& ids) {
    for (int32_t id : ids)
      table.Add()->id = id;
  }

  // Table order, read without the cursor.
  Ids Order() const {
    Ids ids;
    for (const Row& row : table)
      ids.push_back(row.id);
    return ids;
  }

  int32_t CurrentId() {
    Row* row = table.Current();
    return row ? row->id : 0;
  }

  // Walks until the entry with this id is current, as a lookup does.
  void Find(int32_t id) {
    table.Reset();
    while (Row* row = table.Next()) {
      if (row->id == id) return;
    }
    FAIL() << "no entry " << id;
  }

  Table<Row> table;
};

// ---- add -----------------------------------------------------------------

TEST_F(TableTest, AddToAnEmptyTableMakesTheOnlyEntryCurrent) {
  Row* row = table.Add();
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(table.Current(), row);
  EXPECT_EQ(table.Count(), 1);
}

TEST_F(TableTest, AddInsertsAfterTheCurrentEntry) {
  Fill({1, 2, 3});
  EXPECT_EQ(Order(), (Ids{1, 2, 3}));
  Find(2);
  table.Add()->id = 9;
  EXPECT_EQ(Order(), (Ids{1, 2, 9, 3}));
  EXPECT_EQ(CurrentId(), 9);
}

TEST_F(TableTest, AddWithoutCurrentEntryInsertsAtTheFront) {
  Fill({1, 2, 3});
  table.Reset();
  table.Add()->id = 9;
  EXPECT_EQ(Order(), (Ids{9, 1, 2, 3}));
  EXPECT_EQ(CurrentId(), 9);
}

TEST_F(TableTest, AddAfterACompleteWalkAppends) {
  Fill({1, 2, 3});
  table.Reset();
  while (table.Next()) {
  }
  table.Add()->id = 9;
  EXPECT_EQ(Order(), (Ids{1, 2, 3, 9}));
}

TEST_F(TableTest, NewEntriesAreZeroFilled) {
  Row other{};
  for (int round = 0; round < 8; ++round) {
    Row* row = table.Add();
    EXPECT_EQ(row->id, 0);
    EXPECT_EQ(row->number, 0);
    EXPECT_EQ(row->text, "");
    EXPECT_EQ(row->ref, nullptr);
    // Dirty the entry and release it so the next one may reuse its memory.
    row->id = -1;
    row->number = 0x7FFFFFFF;
    row->text = "a text long enough to live on the heap, not in the string";
    row->ref = &other;
    ASSERT_TRUE(table.Delete());
  }
}

// ---- next ----------------------------------------------------------------

TEST_F(TableTest, NextOnAnEmptyTableFindsNothing) {
  EXPECT_EQ(table.Next(), nullptr);
  EXPECT_EQ(table.Current(), nullptr);
}

TEST_F(TableTest, NextWithoutCurrentEntryGoesToTheFirst) {
  Fill({1, 2, 3});
  table.Reset();
  EXPECT_EQ(table.Current(), nullptr);
  EXPECT_EQ(table.Next()->id, 1);
  EXPECT_EQ(table.Next()->id, 2);
  EXPECT_EQ(CurrentId(), 2);
}

TEST_F(TableTest, NextAtTheEndReturnsNullAndStaysOnTheLast) {
  Fill({1, 2});
  table.Reset();
  table.Next();
  table.Next();
  EXPECT_EQ(table.Next(), nullptr);
  EXPECT_EQ(CurrentId(), 2);
  EXPECT_EQ(table.Next(), nullptr);
  EXPECT_EQ(CurrentId(), 2);
}

// ---- delete --------------------------------------------------------------

TEST_F(TableTest, DeleteMakesThePreviousEntryCurrent) {
  Fill({1, 2, 3});
  Find(3);
  ASSERT_TRUE(table.Delete());
  EXPECT_EQ(Order(), (Ids{1, 2}));
  EXPECT_EQ(CurrentId(), 2);
  ASSERT_TRUE(table.Delete());
  EXPECT_EQ(CurrentId(), 1);
}

TEST_F(TableTest, DeletingTheFirstEntryLeavesNoCurrentEntry) {
  Fill({1, 2, 3});
  Find(1);
  ASSERT_TRUE(table.Delete());
  EXPECT_EQ(table.Current(), nullptr);
  EXPECT_EQ(table.Next()->id, 2);
}

TEST_F(TableTest, DeleteWithoutCurrentEntryChangesNothing) {
  Fill({1, 2});
  table.Reset();
  EXPECT_FALSE(table.Delete());
  EXPECT_EQ(Order(), (Ids{1, 2}));
}

TEST_F(TableTest, DeletingTheOnlyEntryEmptiesTheTable) {
  Fill({1});
  ASSERT_TRUE(table.Delete());
  EXPECT_TRUE(table.Empty());
  EXPECT_EQ(table.Current(), nullptr);
  EXPECT_EQ(table.Next(), nullptr);
}

// A walk that deletes some entries as it goes visits each entry exactly
// once, in order, and leaves exactly the others.
class DeletingWalk : public TableTest, public ::testing::WithParamInterface<Ids> {};

TEST_P(DeletingWalk, VisitsEveryEntryOnce) {
  const Ids all = {1, 2, 3, 4, 5, 6};
  const Ids& doomed = GetParam();
  Fill(all);
  Ids visited;
  WalkTable(table, [&](Row& row) {
    visited.push_back(row.id);
    if (std::find(doomed.begin(), doomed.end(), row.id) != doomed.end()) table.Delete();
  });
  EXPECT_EQ(visited, all);
  Ids kept;
  for (int32_t id : all) {
    if (std::find(doomed.begin(), doomed.end(), id) == doomed.end()) kept.push_back(id);
  }
  EXPECT_EQ(Order(), kept);
  EXPECT_EQ(table.Count(), static_cast<int32_t>(kept.size()));
}

INSTANTIATE_TEST_SUITE_P(Patterns, DeletingWalk,
                         ::testing::Values(Ids{}, Ids{1}, Ids{6}, Ids{1, 2}, Ids{5, 6},
                                           Ids{2, 4, 6}, Ids{1, 3, 5}, Ids{1, 2, 3, 4, 5, 6}),
                         [](const auto& info) {
                           std::string name = "Delete";
                           for (int32_t id : info.param)
                             name += "_" + std::to_string(id);
                           return info.param.empty() ? std::string("DeleteNone") : name;
                         });

// ---- select, clear, count ------------------------------------------------

TEST_F(TableTest, SelectMakesTheEntryAtEachIndexCurrent) {
  Fill({10, 20, 30, 40});
  for (int32_t i = 0; i < table.Count(); ++i) {
    Row* row = table.Select(i);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->id, (i + 1) * 10);
    EXPECT_EQ(table.Current(), row);
  }
}

TEST_F(TableTest, SelectMinusOneFailsAndLeavesNoCurrentEntry) {
  Fill({10, 20});
  table.Select(1);
  EXPECT_EQ(table.Select(-1), nullptr);
  EXPECT_EQ(table.Current(), nullptr);
  table.Add()->id = 5;
  EXPECT_EQ(Order(), (Ids{5, 10, 20}));
}

TEST_F(TableTest, SelectPastTheEndFailsLikeMinusOne) {
  Fill({10, 20});
  EXPECT_EQ(table.Select(2), nullptr);
  EXPECT_EQ(table.Current(), nullptr);
  EXPECT_EQ(Table<Row>().Select(0), nullptr);
}

TEST_F(TableTest, CountFollowsAddsDeletesAndClear) {
  EXPECT_EQ(table.Count(), 0);
  Fill({1, 2, 3});
  EXPECT_EQ(table.Count(), 3);
  table.Select(1);
  table.Delete();
  EXPECT_EQ(table.Count(), 2);
  table.Clear();
  EXPECT_EQ(table.Count(), 0);
  EXPECT_TRUE(table.Empty());
  EXPECT_EQ(table.Current(), nullptr);
  EXPECT_EQ(table.Next(), nullptr);
  table.Add()->id = 7;
  EXPECT_EQ(Order(), (Ids{7}));
}

// ---- reading without the cursor ------------------------------------------

TEST_F(TableTest, IterationAndAtLeaveTheCursorAlone) {
  Fill({1, 2, 3});
  table.Select(1);
  EXPECT_EQ(Order(), (Ids{1, 2, 3}));
  EXPECT_EQ(table.At(0)->id, 1);
  EXPECT_EQ(table.At(2)->id, 3);
  EXPECT_EQ(table.At(-1), nullptr);
  EXPECT_EQ(table.At(3), nullptr);
  const Table<Row>& view = table;
  EXPECT_EQ(view.At(1)->id, 2);
  EXPECT_EQ(CurrentId(), 2);
  EXPECT_EQ(table.Next()->id, 3);
}

TEST_F(TableTest, AReadInsideAWalkDoesNotDisturbIt) {
  Fill({1, 2, 3});
  Ids visited;
  WalkTable(table, [&](Row& row) {
    visited.push_back(row.id);
    EXPECT_EQ(Order().size(), 3u);  // a repaint reading the whole table
  });
  EXPECT_EQ(visited, (Ids{1, 2, 3}));
}

TEST_F(TableTest, MakeCurrentFindsOnlyItsOwnEntries) {
  Fill({1, 2, 3});
  Row* second = table.At(1);
  table.Reset();
  EXPECT_TRUE(table.MakeCurrent(second));
  EXPECT_EQ(CurrentId(), 2);
  Row stranger{};
  EXPECT_FALSE(table.MakeCurrent(&stranger));
  EXPECT_EQ(CurrentId(), 2);
}

TEST_F(TableTest, AppendAddsAtTheEndWhateverTheCursor) {
  Fill({1, 2, 3});
  table.Select(0);
  table.Append()->id = 4;
  EXPECT_EQ(Order(), (Ids{1, 2, 3, 4}));
  EXPECT_EQ(CurrentId(), 4);
}

}  // namespace
}  // namespace kelpie
