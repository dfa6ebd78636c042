#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kelpie {

// A doubly linked list whose record layout is given at run time by a format
// string of field letters: "b" byte, "w" word, "l" long, "q" 64-bit
// integer, "f" float, "s" owned string. Any other character is dropped from the format.
//
// Records are reached through the list's current record. Operations that
// return a record return a reference to its data (its first field); null
// means no record. Every operation taking a list fails, with the failure
// result named below and no effect, when the list is null.
class RecordList;

struct RecordListDeleter {
  void operator()(RecordList* list) const;
};
using RecordListPtr = std::unique_ptr<RecordList, RecordListDeleter>;

// Null for the empty format.
RecordListPtr NewRecordList(std::string_view format);

// New zero-filled record after the current one (at the front without one);
// it becomes current.
uint8_t* AddRecord(RecordList* list);
// New zero-filled record before the current one (at the front without one);
// it becomes current.
uint8_t* InsertRecord(RecordList* list);
// Releases the current record; the previous one becomes current. 0 without a
// current record, else 1.
int32_t DeleteRecord(RecordList* list);
int32_t CountRecords(const RecordList* list);
uint8_t* FirstRecord(RecordList* list);
uint8_t* LastRecord(RecordList* list);
// Without a current record: the first record. On the last record: null, and
// the last record stays current.
uint8_t* NextRecord(RecordList* list);
uint8_t* PreviousRecord(RecordList* list);
uint8_t* CurrentRecord(RecordList* list);
// Afterwards there is no current record. Result 0.
int32_t ResetRecords(RecordList* list);
// 1 when records were released, 0 when the list was already empty.
int32_t ClearRecords(RecordList* list);
// Makes the record whose data is given current in its own list. 0 (null) for
// null data.
uint8_t* ChangeCurrentRecord(uint8_t* data);
// Exchanges the field data of two records of the same list. 1, or 0.
int32_t SwapRecords(uint8_t* a, uint8_t* b);
// Releases every record and the list. 1, or 0 for a null list.
int32_t FreeRecordList(RecordListPtr& list);

// Field access on the current record; n counts from 0 in format order.
int32_t SetRecordLong(RecordList* list, int32_t n, int32_t value);
// Any integer field; a narrower one keeps the value's low bits.
int32_t SetRecordQuad(RecordList* list, int32_t n, int64_t value);
int32_t SetRecordFloat(RecordList* list, int32_t n, float value);
int32_t SetRecordString(RecordList* list, int32_t n, std::string_view text);
int32_t GetRecordLong(const RecordList* list, int32_t n);
float GetRecordFloat(const RecordList* list, int32_t n);
std::string GetRecordString(const RecordList* list, int32_t n);

// Layout, as kept after dropping unknown letters.
std::string RecordFormat(const RecordList* list);
int32_t RecordFieldCount(const RecordList* list);
int32_t RecordFieldOffset(const RecordList* list, int32_t n);  // -1 when out of range
int32_t RecordDataSize(const RecordList* list);

// Cursor-free reading, for code that must not disturb a walk in progress
// (drawing, progress display). They never change the current record.
const uint8_t* PeekFirstRecord(const RecordList* list);
const uint8_t* PeekNextRecord(const uint8_t* data);
int32_t PeekRecordLong(const RecordList* list, const uint8_t* data, int32_t n);
int64_t PeekRecordQuad(const RecordList* list, const uint8_t* data, int32_t n);

}  // namespace kelpie
