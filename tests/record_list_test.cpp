#include "compare/record_list.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace kelpie {
namespace {

// The first long of every record, front to back, read without the cursor.
std::vector<int32_t> Values(const RecordList* list) {
  std::vector<int32_t> values;
  for (const uint8_t* r = PeekFirstRecord(list); r != nullptr; r = PeekNextRecord(r)) {
    values.push_back(PeekRecordLong(list, r, 0));
  }
  return values;
}

// The first long of the current record; -1 when there is none.
int32_t CurrentValue(RecordList* list) {
  const uint8_t* current = CurrentRecord(list);
  return current == nullptr ? -1 : PeekRecordLong(list, current, 0);
}

// A list "l" holding 1..count in order, the last record current.
RecordListPtr Numbers(int count) {
  RecordListPtr list = NewRecordList("l");
  for (int i = 1; i <= count; ++i) {
    AddRecord(list.get());
    SetRecordLong(list.get(), 0, i);
  }
  return list;
}

// Adds a record holding value at the list's cursor.
void Add(RecordList* list, int32_t value) {
  ASSERT_NE(AddRecord(list), nullptr);
  SetRecordLong(list, 0, value);
}

void Insert(RecordList* list, int32_t value) {
  ASSERT_NE(InsertRecord(list), nullptr);
  SetRecordLong(list, 0, value);
}

struct LayoutCase {
  const char* name;
  const char* format;
  const char* kept;
  std::vector<int32_t> offsets;
  int32_t dataSize;
};

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, KeepsFieldLettersAndPacksTheirWidths) {
  const LayoutCase& c = GetParam();
  RecordListPtr list = NewRecordList(c.format);
  ASSERT_TRUE(list);
  EXPECT_EQ(RecordFormat(list.get()), c.kept);
  EXPECT_EQ(RecordFieldCount(list.get()), static_cast<int32_t>(c.offsets.size()));
  for (size_t i = 0; i < c.offsets.size(); ++i) {
    EXPECT_EQ(RecordFieldOffset(list.get(), static_cast<int32_t>(i)), c.offsets[i]);
  }
  EXPECT_EQ(RecordFieldOffset(list.get(), static_cast<int32_t>(c.offsets.size())), -1);
  EXPECT_EQ(RecordFieldOffset(list.get(), -1), -1);
  EXPECT_EQ(RecordDataSize(list.get()), c.dataSize);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Layout,
    ::testing::Values(LayoutCase{"BlockRecord", "lllls", "lllls", {0, 4, 8, 12, 16}, 20},
                      LayoutCase{"ByteWordLong", "bwl", "bwl", {0, 1, 3}, 7},
                      LayoutCase{"UnknownLetterDropped", "l?l", "ll", {0, 4}, 8},
                      LayoutCase{"UpperCaseIsNoField", "lLf", "lf", {0, 4}, 8},
                      LayoutCase{"NoFieldAtAll", "L", "", {}, 0},
                      LayoutCase{"EveryType", "bwlfs", "bwlfs", {0, 1, 3, 7, 11}, 15}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NewRecordList, EmptyFormatGivesNoList) {
  EXPECT_FALSE(NewRecordList(""));
}

TEST(NewRecordList, ListWithoutFieldsTakesRecordsButNoFieldAccess) {
  RecordListPtr list = NewRecordList("L");
  ASSERT_TRUE(list);
  EXPECT_NE(AddRecord(list.get()), nullptr);
  EXPECT_NE(AddRecord(list.get()), nullptr);
  EXPECT_EQ(CountRecords(list.get()), 2);
  EXPECT_EQ(SetRecordLong(list.get(), 0, 1), 0);
  EXPECT_EQ(GetRecordLong(list.get(), 0), 0);
  EXPECT_EQ(SetRecordString(list.get(), 0, "x"), 0);
  EXPECT_EQ(GetRecordString(list.get(), 0), "");
}

// Every operation given a null list fails with its failure result.
TEST(NullList, EveryOperationFailsWithoutEffect) {
  RecordList* none = nullptr;
  EXPECT_EQ(AddRecord(none), nullptr);
  EXPECT_EQ(InsertRecord(none), nullptr);
  EXPECT_EQ(DeleteRecord(none), 0);
  EXPECT_EQ(CountRecords(none), 0);
  EXPECT_EQ(FirstRecord(none), nullptr);
  EXPECT_EQ(LastRecord(none), nullptr);
  EXPECT_EQ(NextRecord(none), nullptr);
  EXPECT_EQ(PreviousRecord(none), nullptr);
  EXPECT_EQ(CurrentRecord(none), nullptr);
  EXPECT_EQ(ResetRecords(none), 0);
  EXPECT_EQ(ClearRecords(none), 0);
  EXPECT_EQ(ChangeCurrentRecord(nullptr), nullptr);
  EXPECT_EQ(SwapRecords(nullptr, nullptr), 0);
  RecordListPtr nothing;
  EXPECT_EQ(FreeRecordList(nothing), 0);
  EXPECT_EQ(SetRecordLong(none, 0, 1), 0);
  EXPECT_EQ(SetRecordFloat(none, 0, 1.0f), 0);
  EXPECT_EQ(SetRecordString(none, 0, "x"), 0);
  EXPECT_EQ(GetRecordLong(none, 0), 0);
  EXPECT_EQ(GetRecordFloat(none, 0), 0.0f);
  EXPECT_EQ(GetRecordString(none, 0), "");
  EXPECT_EQ(PeekFirstRecord(none), nullptr);
  EXPECT_EQ(PeekNextRecord(nullptr), nullptr);
}

// A sequence of operations from a starting list, and the records and current
// record it must leave.
struct CursorCase {
  const char* name;
  int start;  // records 1..start, the last one current
  std::function<void(RecordList*)> steps;
  std::vector<int32_t> records;
  int32_t current;  // -1: no current record
};

class Cursor : public ::testing::TestWithParam<CursorCase> {};

TEST_P(Cursor, LeavesRecordsAndCurrentRecord) {
  const CursorCase& c = GetParam();
  RecordListPtr list = Numbers(c.start);
  c.steps(list.get());
  EXPECT_EQ(Values(list.get()), c.records);
  EXPECT_EQ(CurrentValue(list.get()), c.current);
  EXPECT_EQ(CountRecords(list.get()), static_cast<int32_t>(c.records.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, Cursor,
    ::testing::Values(CursorCase{"AddsAppendInCallOrder", 3, [](RecordList*) {}, {1, 2, 3}, 3},
                      CursorCase{"AddBehindCurrent",
                                 3,
                                 [](RecordList* l) {
                                   FirstRecord(l);
                                   Add(l, 9);
                                 },
                                 {1, 9, 2, 3},
                                 9},
                      CursorCase{"NextOnLastStaysSoAddAppends",
                                 2,
                                 [](RecordList* l) {
                                   EXPECT_EQ(NextRecord(l), nullptr);
                                   Add(l, 9);
                                 },
                                 {1, 2, 9},
                                 9},
                      CursorCase{"AddAfterResetGoesToFront",
                                 2,
                                 [](RecordList* l) {
                                   EXPECT_EQ(ResetRecords(l), 0);
                                   Add(l, 9);
                                 },
                                 {9, 1, 2},
                                 9},
                      CursorCase{"AddAfterDeletingFirstGoesToFront",
                                 3,
                                 [](RecordList* l) {
                                   FirstRecord(l);
                                   EXPECT_EQ(DeleteRecord(l), 1);
                                   EXPECT_EQ(CurrentRecord(l), nullptr);
                                   Add(l, 9);
                                 },
                                 {9, 2, 3},
                                 9},
                      CursorCase{"DeleteMakesPreviousCurrent",
                                 3,
                                 [](RecordList* l) {
                                   LastRecord(l);
                                   PreviousRecord(l);
                                   EXPECT_EQ(DeleteRecord(l), 1);
                                 },
                                 {1, 3},
                                 1},
                      CursorCase{"DeleteLastMovesLast",
                                 3,
                                 [](RecordList* l) {
                                   EXPECT_EQ(DeleteRecord(l), 1);
                                   Add(l, 9);
                                 },
                                 {1, 2, 9},
                                 9},
                      CursorCase{"DeleteOnlyRecordEmptiesList",
                                 1,
                                 [](RecordList* l) {
                                   EXPECT_EQ(DeleteRecord(l), 1);
                                   EXPECT_EQ(FirstRecord(l), nullptr);
                                   EXPECT_EQ(LastRecord(l), nullptr);
                                 },
                                 {},
                                 -1},
                      CursorCase{"DeleteWithoutCurrentFails",
                                 2,
                                 [](RecordList* l) {
                                   ResetRecords(l);
                                   EXPECT_EQ(DeleteRecord(l), 0);
                                 },
                                 {1, 2},
                                 -1},
                      CursorCase{"InsertBeforeCurrent",
                                 3,
                                 [](RecordList* l) {
                                   FirstRecord(l);
                                   NextRecord(l);
                                   Insert(l, 9);
                                 },
                                 {1, 9, 2, 3},
                                 9},
                      CursorCase{"InsertBeforeFirstBecomesFirst",
                                 2,
                                 [](RecordList* l) {
                                   FirstRecord(l);
                                   Insert(l, 9);
                                 },
                                 {9, 1, 2},
                                 9},
                      CursorCase{"InsertWithoutCurrentGoesToFront",
                                 2,
                                 [](RecordList* l) {
                                   ResetRecords(l);
                                   Insert(l, 9);
                                 },
                                 {9, 1, 2},
                                 9},
                      CursorCase{
                          "InsertIntoEmptyList", 0, [](RecordList* l) { Insert(l, 9); }, {9}, 9},
                      CursorCase{"NextWithoutCurrentGivesFirst",
                                 3,
                                 [](RecordList* l) {
                                   ResetRecords(l);
                                   EXPECT_NE(NextRecord(l), nullptr);
                                 },
                                 {1, 2, 3},
                                 1},
                      CursorCase{"PreviousOnFirstFailsAndStays",
                                 2,
                                 [](RecordList* l) {
                                   FirstRecord(l);
                                   EXPECT_EQ(PreviousRecord(l), nullptr);
                                 },
                                 {1, 2},
                                 1},
                      CursorCase{"PreviousWithoutCurrentFails",
                                 2,
                                 [](RecordList* l) {
                                   ResetRecords(l);
                                   EXPECT_EQ(PreviousRecord(l), nullptr);
                                 },
                                 {1, 2},
                                 -1},
                      CursorCase{"EmptyListWalksNothing",
                                 0,
                                 [](RecordList* l) {
                                   EXPECT_EQ(FirstRecord(l), nullptr);
                                   EXPECT_EQ(NextRecord(l), nullptr);
                                   EXPECT_EQ(LastRecord(l), nullptr);
                                   EXPECT_EQ(ClearRecords(l), 0);
                                 },
                                 {},
                                 -1},
                      CursorCase{"ClearReleasesEverything",
                                 3,
                                 [](RecordList* l) { EXPECT_EQ(ClearRecords(l), 1); },
                                 {},
                                 -1},
                      CursorCase{"ChangeCurrentRecordTakesData",
                                 3,
                                 [](RecordList* l) {
                                   uint8_t* first = FirstRecord(l);
                                   LastRecord(l);
                                   EXPECT_EQ(ChangeCurrentRecord(first), first);
                                   Add(l, 9);
                                 },
                                 {1, 9, 2, 3},
                                 9}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Walk, FirstThenNextVisitsEveryRecordOnce) {
  RecordListPtr list = Numbers(4);
  std::vector<int32_t> seen;
  FirstRecord(list.get());
  do {
    seen.push_back(GetRecordLong(list.get(), 0));
  } while (NextRecord(list.get()) != nullptr);
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3, 4}));
  // Walking backwards from the end meets the same records in reverse.
  seen.clear();
  LastRecord(list.get());
  do {
    seen.push_back(GetRecordLong(list.get(), 0));
  } while (PreviousRecord(list.get()) != nullptr);
  EXPECT_EQ(seen, (std::vector<int32_t>{4, 3, 2, 1}));
}

// Storing into field n of a one-field list of the given format.
struct FieldCase {
  const char* name;
  const char* format;
  int32_t n;
  int32_t stored;     // SetRecordLong value
  int32_t setResult;  // its result
  int32_t readBack;   // GetRecordLong afterwards
};

class LongField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(LongField, StoresItsWidthAndReadsSignExtended) {
  const FieldCase& c = GetParam();
  RecordListPtr list = NewRecordList(c.format);
  AddRecord(list.get());
  EXPECT_EQ(SetRecordLong(list.get(), c.n, c.stored), c.setResult);
  EXPECT_EQ(GetRecordLong(list.get(), c.n), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(Widths, LongField,
                         ::testing::Values(FieldCase{"ByteKeepsLow8Bits", "b", 0, 300, 1, 44},
                                           FieldCase{"ByteSignExtends", "b", 0, 200, 1, -56},
                                           FieldCase{"WordMinusOne", "w", 0, -1, 1, -1},
                                           FieldCase{"WordKeepsLow16Bits", "w", 0, 70000, 1, 4464},
                                           FieldCase{"LongKeepsAll", "l", 0, INT32_MIN, 1,
                                                     INT32_MIN},
                                           FieldCase{"FloatFieldRefuses", "f", 0, 5, 0, 0},
                                           FieldCase{"StringFieldRefuses", "s", 0, 5, 0, 0},
                                           FieldCase{"IndexMinusOne", "l", -1, 5, 0, 0},
                                           FieldCase{"IndexPastLastField", "l", 1, 5, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FieldAccess, FailsWithoutCurrentRecord) {
  RecordListPtr list = Numbers(1);
  ResetRecords(list.get());
  EXPECT_EQ(SetRecordLong(list.get(), 0, 5), 0);
  EXPECT_EQ(GetRecordLong(list.get(), 0), 0);
  FirstRecord(list.get());
  EXPECT_EQ(GetRecordLong(list.get(), 0), 1);
}

TEST(FieldAccess, NewRecordsReadZeroAndEmptyText) {
  RecordListPtr list = NewRecordList("bwlfs");
  AddRecord(list.get());
  for (int32_t n = 0; n < 3; ++n)
    EXPECT_EQ(GetRecordLong(list.get(), n), 0);
  EXPECT_EQ(GetRecordFloat(list.get(), 3), 0.0f);
  EXPECT_EQ(GetRecordString(list.get(), 4), "");
}

TEST(FieldAccess, FloatsOnlyInFloatFields) {
  RecordListPtr list = NewRecordList("lfs");
  AddRecord(list.get());
  EXPECT_EQ(SetRecordFloat(list.get(), 1, 2.5f), 1);
  EXPECT_EQ(GetRecordFloat(list.get(), 1), 2.5f);
  EXPECT_EQ(SetRecordFloat(list.get(), 0, 2.5f), 0);
  EXPECT_EQ(SetRecordFloat(list.get(), 2, 2.5f), 0);
  EXPECT_EQ(GetRecordFloat(list.get(), 0), 0.0f);
  EXPECT_EQ(GetRecordLong(list.get(), 1), 0);  // a float is no long
  EXPECT_EQ(GetRecordString(list.get(), 1), "");
}

TEST(FieldAccess, StringsAreOwnedAndReplaced) {
  RecordListPtr list = NewRecordList("ls");
  AddRecord(list.get());
  EXPECT_EQ(SetRecordString(list.get(), 0, "x"), 0);
  EXPECT_EQ(SetRecordString(list.get(), 1, "first"), 1);
  EXPECT_EQ(SetRecordString(list.get(), 1, "second"), 1);
  EXPECT_EQ(GetRecordString(list.get(), 1), "second");
  EXPECT_EQ(GetRecordLong(list.get(), 1), 0);
  std::string caller = "temporary";
  SetRecordString(list.get(), 1, caller);
  caller.assign("changed");
  EXPECT_EQ(GetRecordString(list.get(), 1), "temporary");
  EXPECT_EQ(SetRecordString(list.get(), 1, ""), 1);
  EXPECT_EQ(GetRecordString(list.get(), 1), "");
}

TEST(FieldAccess, EachRecordHoldsItsOwnText) {
  RecordListPtr list = NewRecordList("s");
  for (const char* text : {"a", "b", "c"}) {
    AddRecord(list.get());
    SetRecordString(list.get(), 0, text);
  }
  FirstRecord(list.get());
  NextRecord(list.get());
  DeleteRecord(list.get());  // "b" goes, "a" is current
  AddRecord(list.get());
  EXPECT_EQ(GetRecordString(list.get(), 0), "");  // a new record has no text
  SetRecordString(list.get(), 0, "d");
  std::vector<std::string> texts;
  FirstRecord(list.get());
  do {
    texts.push_back(GetRecordString(list.get(), 0));
  } while (NextRecord(list.get()) != nullptr);
  EXPECT_EQ(texts, (std::vector<std::string>{"a", "d", "c"}));
}

TEST(SwapRecords, ExchangesAllFieldsButNotPlaces) {
  RecordListPtr list = NewRecordList("ls");
  uint8_t* a = AddRecord(list.get());
  SetRecordLong(list.get(), 0, 1);
  SetRecordString(list.get(), 1, "one");
  uint8_t* b = AddRecord(list.get());
  SetRecordLong(list.get(), 0, 2);
  SetRecordString(list.get(), 1, "two");
  EXPECT_EQ(SwapRecords(a, b), 1);
  EXPECT_EQ(Values(list.get()), (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(CurrentRecord(list.get()), b);
  EXPECT_EQ(GetRecordString(list.get(), 1), "one");
  ChangeCurrentRecord(a);
  EXPECT_EQ(GetRecordString(list.get(), 1), "two");
  // The texts moved with their records: replacing one leaves the other.
  SetRecordString(list.get(), 1, "three");
  ChangeCurrentRecord(b);
  EXPECT_EQ(GetRecordString(list.get(), 1), "one");
}

TEST(SwapRecords, RefusesRecordsOfTwoLists) {
  RecordListPtr one = Numbers(1);
  RecordListPtr two = Numbers(1);
  EXPECT_EQ(SwapRecords(FirstRecord(one.get()), FirstRecord(two.get())), 0);
  EXPECT_EQ(SwapRecords(FirstRecord(one.get()), nullptr), 0);
  EXPECT_EQ(GetRecordLong(one.get(), 0), 1);
}

TEST(ChangeCurrentRecord, MovesTheCursorOfTheRecordsOwnList) {
  RecordListPtr one = Numbers(3);
  RecordListPtr two = Numbers(2);
  FirstRecord(one.get());
  NextRecord(one.get());
  uint8_t* second = CurrentRecord(one.get());
  LastRecord(one.get());
  FirstRecord(two.get());
  EXPECT_EQ(ChangeCurrentRecord(second), second);
  EXPECT_EQ(CurrentValue(one.get()), 2);
  EXPECT_EQ(CurrentValue(two.get()), 1);
}

TEST(Peek, ReadsWithoutMovingTheCursor) {
  RecordListPtr list = Numbers(3);
  FirstRecord(list.get());
  EXPECT_EQ(Values(list.get()), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(CurrentValue(list.get()), 1);
  ResetRecords(list.get());
  EXPECT_EQ(Values(list.get()), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(CurrentRecord(list.get()), nullptr);
  EXPECT_EQ(PeekRecordLong(list.get(), PeekFirstRecord(list.get()), 1), 0);
  EXPECT_EQ(PeekRecordLong(list.get(), nullptr, 0), 0);
}

TEST(FreeRecordList, ReleasesOnce) {
  RecordListPtr list = NewRecordList("ls");
  AddRecord(list.get());
  SetRecordString(list.get(), 1, "kept until freed");
  EXPECT_EQ(FreeRecordList(list), 1);
  EXPECT_FALSE(list);
  EXPECT_EQ(FreeRecordList(list), 0);
}

}  // namespace
}  // namespace kelpie
