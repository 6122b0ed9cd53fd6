// Undo and redo: a bounded stack of edits kept in a ring. Each record owns
// a snapshot of the whole clip list taken before its edit, with the marks
// and position that go with it; a push into a full history frees the
// oldest record's snapshot as it overwrites it.
#pragma once

#include <memory>
#include <vector>

#include "engine/clips/project.h"

// Kinds the editor window uses; other users pass their own values.
enum EditKind : int {
  kEditEmpty = 0,
  kEditCut = 1,     // also trim, merge of one side, transition removal
  kEditPaste = 3,   // also merge of both sides, insert of a clip
  kEditEffects = 4, // insert of effects only
  kEditState = 5,   // state saved by undo or redo
};

class EditRecord {
 public:
  EditRecord() = default;
  EditRecord(int kind_, std::unique_ptr<EClip> snapshot_, int mark_in_, int mark_out_, int insert_point_,
             int current_frame_)
      : kind(kind_),
        snapshot(std::move(snapshot_)),
        mark_in(mark_in_),
        mark_out(mark_out_),
        insert_point(insert_point_),
        current_frame(current_frame_) {}
  EditRecord(EditRecord&&) = default;
  EditRecord& operator=(EditRecord&&) = default;
  virtual ~EditRecord() = default;

  // Empty again (kind 0), the snapshot freed.
  void reset() { *this = EditRecord(); }

  int kind = kEditEmpty;
  std::unique_ptr<EClip> snapshot;
  int mark_in = 0;
  int mark_out = 0;
  int insert_point = 0;
  int current_frame = 0;
};

class EditHistory {
 public:
  // A capacity below 1 holds one record.
  explicit EditHistory(int capacity);

  // Stores the record as the newest; when full, the oldest record (and its
  // snapshot) goes.
  void push(EditRecord record);
  // Takes the newest record out; an empty record (kind 0) when there is
  // none.
  EditRecord pop();
  // Frees every record.
  void clear();

  int count() const { return count_; }
  int capacity() const { return int(records_.size()); }
  bool empty() const { return count_ == 0; }
  // The newest record, or null.
  const EditRecord* top() const;

 private:
  std::vector<EditRecord> records_;
  int cursor_ = 0;  // next slot to write
  int count_ = 0;
};

// Capacity of the editor window's histories: the "Undo Size" setting,
// 16 when that is 0.
int undo_capacity(int undo_size);
