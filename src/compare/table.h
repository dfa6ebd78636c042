#pragma once

#include <cstdint>
#include <iterator>
#include <list>

namespace kelpie {

// An ordered table with one shared current-entry cursor. Where a new entry
// lands depends on where the last walk or search left the cursor:
//   Reset  - afterwards no entry is current.
//   Next   - without a current entry the first becomes current, else the
//            following one; at the end it returns null and stays on the last.
//   Add    - inserts after the current entry (at the front without one);
//            the new entry becomes current.
//   Delete - removes the current entry; the previous one (or none) becomes
//            current, so a walk that deletes continues with the next entry.
//   Select - the entry at an index becomes current; -1 or out of range
//            leaves no current entry and returns null.
// begin()/end() read the table without touching the cursor.
template <class T>
class Table {
 public:
  Table() = default;
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  void Reset() { cursor_ = entries_.end(); }

  T* Next() {
    if (cursor_ == entries_.end()) {
      if (entries_.empty()) return nullptr;
      cursor_ = entries_.begin();
      return &*cursor_;
    }
    auto following = std::next(cursor_);
    if (following == entries_.end()) return nullptr;
    cursor_ = following;
    return &*cursor_;
  }

  T* Add() {
    auto where = cursor_ == entries_.end() ? entries_.begin() : std::next(cursor_);
    cursor_ = entries_.emplace(where);
    return &*cursor_;
  }

  // Adds at the end, whatever the cursor.
  T* Append() {
    cursor_ = entries_.emplace(entries_.end());
    return &*cursor_;
  }

  bool Delete() {
    if (cursor_ == entries_.end()) return false;
    auto previous = cursor_ == entries_.begin() ? entries_.end() : std::prev(cursor_);
    entries_.erase(cursor_);
    cursor_ = previous;
    return true;
  }

  void Clear() {
    entries_.clear();
    cursor_ = entries_.end();
  }

  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  bool Empty() const { return entries_.empty(); }

  T* Select(int32_t index) {
    cursor_ = entries_.end();
    if (index < 0 || index >= Count()) return nullptr;
    cursor_ = std::next(entries_.begin(), index);
    return &*cursor_;
  }

  T* Current() { return cursor_ == entries_.end() ? nullptr : &*cursor_; }

  // Entry at an index without moving the cursor; null when out of range.
  const T* At(int32_t index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return &*std::next(entries_.begin(), index);
  }
  T* At(int32_t index) {
    if (index < 0 || index >= Count()) return nullptr;
    return &*std::next(entries_.begin(), index);
  }

  // Makes a given entry current; false when it is not in this table.
  bool MakeCurrent(const T* entry) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (&*it == entry) {
        cursor_ = it;
        return true;
      }
    }
    return false;
  }

  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }

 private:
  std::list<T> entries_;
  typename std::list<T>::iterator cursor_ = entries_.end();
};

// Walks a table with its cursor, front to back. The callback may delete the
// current entry; the walk then continues with the entry after it.
template <class T, class F>
void WalkTable(Table<T>& table, F&& visit) {
  table.Reset();
  while (T* entry = table.Next())
    visit(*entry);
}

}  // namespace kelpie
