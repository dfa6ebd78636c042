#include "compare/record_list.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

// Each record is one zero-filled allocation: three header words (next,
// previous, owning list) followed by the field data. Callers only ever see
// the data address; the header sits right in front of it, which is how
// ChangeCurrentRecord and SwapRecords find a record's list from its data.
//
// A string field is 4 bytes wide, like a long. It holds a handle (0 = no
// text) into the list's text store; the text belongs to the record that holds
// the handle and is released with it.

namespace kelpie {
namespace {

struct RecordHeader {
  RecordHeader* next;
  RecordHeader* previous;
  RecordList* owner;
};

uint8_t* DataOf(RecordHeader* record) {
  return record == nullptr ? nullptr : reinterpret_cast<uint8_t*>(record + 1);
}

RecordHeader* HeaderOf(const uint8_t* data) {
  return reinterpret_cast<RecordHeader*>(const_cast<uint8_t*>(data)) - 1;
}

int32_t FieldWidth(char letter) {
  switch (letter) {
    case 'b':
      return 1;
    case 'w':
      return 2;
    case 'l':
    case 'f':
    case 's':
      return 4;
    case 'q':
      return 8;
    default:
      return 0;
  }
}

template <class T>
T LoadField(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void StoreField(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace

class RecordList {
 public:
  ~RecordList() { ReleaseAll(); }

  RecordHeader* first = nullptr;
  RecordHeader* last = nullptr;
  RecordHeader* current = nullptr;
  std::string format;
  int32_t fieldCount = 0;
  int32_t dataSize = 0;
  std::vector<int32_t> offsets;
  int32_t count = 0;

  // The field at index n of a record's data, or null when n is out of range.
  uint8_t* Field(const uint8_t* data, int32_t n) const {
    if (data == nullptr || n < 0 || n >= fieldCount) return nullptr;
    return const_cast<uint8_t*>(data) + offsets[static_cast<size_t>(n)];
  }
  char Letter(int32_t n) const { return format[static_cast<size_t>(n)]; }

  RecordHeader* NewRecord() {
    void* memory = std::calloc(1, sizeof(RecordHeader) + static_cast<size_t>(dataSize));
    if (memory == nullptr) return nullptr;
    auto* record = static_cast<RecordHeader*>(memory);
    record->owner = this;
    return record;
  }

  void Release(RecordHeader* record) {
    for (int32_t n = 0; n < fieldCount; ++n) {
      if (Letter(n) == 's') ReleaseText(LoadField<uint32_t>(Field(DataOf(record), n)));
    }
    std::free(record);
  }

  void ReleaseAll() {
    for (RecordHeader* record = first; record != nullptr;) {
      RecordHeader* next = record->next;
      Release(record);
      record = next;
    }
    first = last = current = nullptr;
    count = 0;
  }

  // Stores a copy of text under handle (a new handle when 0); 0 when memory
  // runs out.
  uint32_t StoreText(uint32_t handle, std::string_view text) {
    char* copy = new (std::nothrow) char[text.size() + 1];
    if (copy == nullptr) return 0;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    std::unique_ptr<char[]> owned(copy);
    try {
      if (handle == 0) {
        if (freeTexts_.empty()) {
          texts_.emplace_back();
          handle = static_cast<uint32_t>(texts_.size());
        } else {
          handle = freeTexts_.back();
          freeTexts_.pop_back();
        }
      }
    } catch (const std::bad_alloc&) {
      return 0;
    }
    texts_[handle - 1] = std::move(owned);
    return handle;
  }

  const char* Text(uint32_t handle) const {
    if (handle == 0 || handle > texts_.size()) return "";
    const char* text = texts_[handle - 1].get();
    return text == nullptr ? "" : text;
  }

  void ReleaseText(uint32_t handle) {
    if (handle == 0 || handle > texts_.size()) return;
    texts_[handle - 1].reset();
    try {
      freeTexts_.push_back(handle);
    } catch (const std::bad_alloc&) {
      // The slot is simply not reused.
    }
  }

 private:
  std::vector<std::unique_ptr<char[]>> texts_;
  std::vector<uint32_t> freeTexts_;
};

void RecordListDeleter::operator()(RecordList* list) const {
  delete list;
}

RecordListPtr NewRecordList(std::string_view format) {
  if (format.empty()) return nullptr;
  RecordListPtr list(new (std::nothrow) RecordList);
  if (!list) return nullptr;
  try {
    for (char letter : format) {
      int32_t width = FieldWidth(letter);
      if (width == 0) continue;
      list->format.push_back(letter);
      list->offsets.push_back(list->dataSize);
      list->dataSize += width;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  list->fieldCount = static_cast<int32_t>(list->format.size());
  return list;
}

namespace {

// Without a current record a new record goes to the front (or is the only one).
void LinkAtFront(RecordList* list, RecordHeader* record) {
  if (list->first != nullptr) {
    record->next = list->first;
    list->first->previous = record;
    list->first = record;
  } else {
    list->first = list->last = record;
  }
}

// A linked-in record is counted and becomes current.
uint8_t* Adopt(RecordList* list, RecordHeader* record) {
  ++list->count;
  list->current = record;
  return DataOf(record);
}

}  // namespace

uint8_t* AddRecord(RecordList* list) {
  if (list == nullptr) return nullptr;
  RecordHeader* record = list->NewRecord();
  if (record == nullptr) return nullptr;
  if (RecordHeader* current = list->current) {
    record->previous = current;
    record->next = current->next;
    if (current->next != nullptr) current->next->previous = record;
    current->next = record;
    if (record->next == nullptr) list->last = record;
  } else {
    LinkAtFront(list, record);
  }
  return Adopt(list, record);
}

uint8_t* InsertRecord(RecordList* list) {
  if (list == nullptr) return nullptr;
  RecordHeader* record = list->NewRecord();
  if (record == nullptr) return nullptr;
  if (RecordHeader* current = list->current) {
    record->next = current;
    record->previous = current->previous;
    if (current->previous != nullptr) current->previous->next = record;
    current->previous = record;
    if (record->previous == nullptr) list->first = record;
  } else {
    LinkAtFront(list, record);
  }
  return Adopt(list, record);
}

int32_t DeleteRecord(RecordList* list) {
  if (list == nullptr || list->current == nullptr) return 0;
  RecordHeader* record = list->current;
  if (record->previous != nullptr) {
    record->previous->next = record->next;
  } else {
    list->first = record->next;
  }
  if (record->next != nullptr) {
    record->next->previous = record->previous;
  } else {
    list->last = record->previous;
  }
  list->current = record->previous;
  list->Release(record);
  --list->count;
  return 1;
}

int32_t CountRecords(const RecordList* list) {
  return list == nullptr ? 0 : list->count;
}

uint8_t* FirstRecord(RecordList* list) {
  if (list == nullptr) return nullptr;
  list->current = list->first;
  return DataOf(list->current);
}

uint8_t* LastRecord(RecordList* list) {
  if (list == nullptr) return nullptr;
  list->current = list->last;
  return DataOf(list->current);
}

uint8_t* NextRecord(RecordList* list) {
  if (list == nullptr) return nullptr;
  if (list->current == nullptr) return FirstRecord(list);
  if (list->current->next == nullptr) return nullptr;
  list->current = list->current->next;
  return DataOf(list->current);
}

uint8_t* PreviousRecord(RecordList* list) {
  if (list == nullptr || list->current == nullptr || list->current->previous == nullptr) {
    return nullptr;
  }
  list->current = list->current->previous;
  return DataOf(list->current);
}

uint8_t* CurrentRecord(RecordList* list) {
  return list == nullptr ? nullptr : DataOf(list->current);
}

int32_t ResetRecords(RecordList* list) {
  if (list != nullptr) list->current = nullptr;
  return 0;
}

int32_t ClearRecords(RecordList* list) {
  if (list == nullptr || list->first == nullptr) return 0;
  list->ReleaseAll();
  return 1;
}

uint8_t* ChangeCurrentRecord(uint8_t* data) {
  if (data == nullptr) return nullptr;
  RecordHeader* record = HeaderOf(data);
  record->owner->current = record;
  return data;
}

int32_t SwapRecords(uint8_t* a, uint8_t* b) {
  if (a == nullptr || b == nullptr) return 0;
  RecordList* list = HeaderOf(a)->owner;
  if (list != HeaderOf(b)->owner) return 0;
  if (a == b || list->dataSize == 0) return 1;
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[list->dataSize]);
  if (!scratch) return 0;
  const auto size = static_cast<size_t>(list->dataSize);
  std::memcpy(scratch.get(), a, size);
  std::memcpy(a, b, size);
  std::memcpy(b, scratch.get(), size);
  return 1;
}

int32_t FreeRecordList(RecordListPtr& list) {
  if (!list) return 0;
  list.reset();
  return 1;
}

int32_t SetRecordLong(RecordList* list, int32_t n, int32_t value) {
  return SetRecordQuad(list, n, value);
}

int32_t SetRecordQuad(RecordList* list, int32_t n, int64_t value) {
  if (list == nullptr) return 0;
  uint8_t* field = list->Field(DataOf(list->current), n);
  if (field == nullptr) return 0;
  switch (list->Letter(n)) {
    case 'b':
      StoreField(field, static_cast<int8_t>(value));
      return 1;
    case 'w':
      StoreField(field, static_cast<int16_t>(value));
      return 1;
    case 'l':
      StoreField(field, static_cast<int32_t>(value));
      return 1;
    case 'q':
      StoreField(field, value);
      return 1;
    default:
      return 0;
  }
}

int32_t SetRecordFloat(RecordList* list, int32_t n, float value) {
  if (list == nullptr) return 0;
  uint8_t* field = list->Field(DataOf(list->current), n);
  if (field == nullptr || list->Letter(n) != 'f') return 0;
  StoreField(field, value);
  return 1;
}

int32_t SetRecordString(RecordList* list, int32_t n, std::string_view text) {
  if (list == nullptr) return 0;
  uint8_t* field = list->Field(DataOf(list->current), n);
  if (field == nullptr || list->Letter(n) != 's') return 0;
  uint32_t handle = list->StoreText(LoadField<uint32_t>(field), text);
  if (handle == 0) return 0;
  StoreField(field, handle);
  return 1;
}

int32_t GetRecordLong(const RecordList* list, int32_t n) {
  return list == nullptr ? 0 : PeekRecordLong(list, DataOf(list->current), n);
}

float GetRecordFloat(const RecordList* list, int32_t n) {
  if (list == nullptr) return 0.0f;
  const uint8_t* field = list->Field(DataOf(list->current), n);
  if (field == nullptr || list->Letter(n) != 'f') return 0.0f;
  return LoadField<float>(field);
}

std::string GetRecordString(const RecordList* list, int32_t n) {
  if (list == nullptr) return "";
  const uint8_t* field = list->Field(DataOf(list->current), n);
  if (field == nullptr || list->Letter(n) != 's') return "";
  return list->Text(LoadField<uint32_t>(field));
}

std::string RecordFormat(const RecordList* list) {
  return list == nullptr ? "" : list->format;
}

int32_t RecordFieldCount(const RecordList* list) {
  return list == nullptr ? 0 : list->fieldCount;
}

int32_t RecordFieldOffset(const RecordList* list, int32_t n) {
  if (list == nullptr || n < 0 || n >= list->fieldCount) return -1;
  return list->offsets[static_cast<size_t>(n)];
}

int32_t RecordDataSize(const RecordList* list) {
  return list == nullptr ? 0 : list->dataSize;
}

const uint8_t* PeekFirstRecord(const RecordList* list) {
  return list == nullptr ? nullptr : DataOf(list->first);
}

const uint8_t* PeekNextRecord(const uint8_t* data) {
  return data == nullptr ? nullptr : DataOf(HeaderOf(data)->next);
}

int32_t PeekRecordLong(const RecordList* list, const uint8_t* data, int32_t n) {
  return static_cast<int32_t>(PeekRecordQuad(list, data, n));
}

int64_t PeekRecordQuad(const RecordList* list, const uint8_t* data, int32_t n) {
  if (list == nullptr) return 0;
  const uint8_t* field = list->Field(data, n);
  if (field == nullptr) return 0;
  switch (list->Letter(n)) {
    case 'b':
      return LoadField<int8_t>(field);
    case 'w':
      return LoadField<int16_t>(field);
    case 'l':
      return LoadField<int32_t>(field);
    case 'q':
      return LoadField<int64_t>(field);
    default:
      return 0;
  }
}

}  // namespace kelpie
