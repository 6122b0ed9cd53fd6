#include "app/shell/edit_history.h"

EditHistory::EditHistory(int capacity) : records_(size_t(capacity < 1 ? 1 : capacity)) {}

void EditHistory::push(EditRecord record) {
  // Move-assignment frees the overwritten record's snapshot.
  records_[size_t(cursor_)] = std::move(record);
  cursor_ = (cursor_ + 1) % capacity();
  if (count_ < capacity()) ++count_;
}

EditRecord EditHistory::pop() {
  if (count_ == 0) {
    cursor_ = 0;
    return EditRecord();
  }
  --count_;
  cursor_ = (cursor_ + capacity() - 1) % capacity();
  EditRecord out = std::move(records_[size_t(cursor_)]);
  records_[size_t(cursor_)].reset();
  return out;
}

void EditHistory::clear() {
  while (count_ > 0) pop();
}

const EditRecord* EditHistory::top() const {
  if (count_ == 0) return nullptr;
  return &records_[size_t((cursor_ + capacity() - 1) % capacity())];
}

int undo_capacity(int undo_size) { return undo_size == 0 ? 16 : undo_size; }
