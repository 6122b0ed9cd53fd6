// The undo ring: capacity, newest first, a new edit empties redo, and
// every snapshot freed exactly once, the overwritten ones included.
#include <gtest/gtest.h>

#include "app/shell/edit_history.h"

namespace {

// A clip list that counts its own destruction.
struct CountedClip : EClip {
  explicit CountedClip(int* freed) : freed_(freed) {}
  ~CountedClip() override { ++*freed_; }
  int* freed_;
};

EditRecord record(int id, int* freed) {
  auto snap = std::make_unique<CountedClip>(freed);
  snap->name = std::to_string(id);
  return EditRecord(kEditCut, std::move(snap), id, id + 10, id + 5, id + 1);
}

TEST(EditHistory, KeepsCapacityNewestFirst) {
  int freed = 0;
  EditHistory h(4);
  for (int i = 1; i <= 5; ++i) h.push(record(i, &freed));
  EXPECT_EQ(h.count(), 4);
  ASSERT_NE(h.top(), nullptr);
  EXPECT_EQ(h.top()->mark_in, 5);
  std::vector<int> popped;
  while (!h.empty()) {
    EditRecord r = h.pop();
    popped.push_back(r.mark_in);
    EXPECT_EQ(r.snapshot->name, std::to_string(r.mark_in));
    EXPECT_EQ(r.mark_out, r.mark_in + 10);
    EXPECT_EQ(r.insert_point, r.mark_in + 5);
    EXPECT_EQ(r.current_frame, r.mark_in + 1);
  }
  // The first one pushed never comes back.
  EXPECT_EQ(popped, (std::vector<int>{5, 4, 3, 2}));
}

TEST(EditHistory, OverwrittenSnapshotIsFreed) {
  int freed = 0;
  {
    EditHistory h(3);
    for (int i = 1; i <= 3; ++i) h.push(record(i, &freed));
    EXPECT_EQ(freed, 0);
    h.push(record(4, &freed));
    EXPECT_EQ(freed, 1);  // the oldest went with its slot
    h.push(record(5, &freed));
    EXPECT_EQ(freed, 2);
  }
  EXPECT_EQ(freed, 5);  // the rest with the history
}

TEST(EditHistory, ClearFreesEachSnapshotOnce) {
  int freed = 0;
  EditHistory h(8);
  for (int i = 1; i <= 3; ++i) h.push(record(i, &freed));
  h.push(EditRecord());  // kind 0, no snapshot
  h.clear();
  EXPECT_EQ(h.count(), 0);
  EXPECT_EQ(freed, 3);
  h.clear();
  EXPECT_EQ(freed, 3);
}

TEST(EditHistory, PopOfEmptyIsEmptyRecord) {
  EditHistory h(2);
  EditRecord r = h.pop();
  EXPECT_EQ(r.kind, kEditEmpty);
  EXPECT_EQ(r.snapshot, nullptr);
  EXPECT_EQ(h.count(), 0);
  EXPECT_EQ(h.top(), nullptr);
}

TEST(EditHistory, UndoRedoOrderAndNewEditEmptiesRedo) {
  // The editor's use: an edit pushes onto undo and clears redo; undo moves
  // the newest record to redo, redo moves it back.
  int freed = 0;
  EditHistory undo(undo_capacity(0)), redo(undo_capacity(0));
  EXPECT_EQ(undo.capacity(), 16);
  for (int i = 1; i <= 3; ++i) {
    undo.push(record(i, &freed));
    redo.clear();
  }
  redo.push(undo.pop());
  redo.push(undo.pop());
  EXPECT_EQ(undo.count(), 1);
  EXPECT_EQ(redo.top()->mark_in, 2);
  undo.push(redo.pop());
  EXPECT_EQ(undo.top()->mark_in, 2);
  EXPECT_EQ(redo.top()->mark_in, 3);
  undo.push(record(9, &freed));
  redo.clear();
  EXPECT_TRUE(redo.empty());
  EXPECT_EQ(freed, 1);  // record 3's snapshot, dropped with redo
  EXPECT_EQ(undo.count(), 3);
}

TEST(EditHistory, CapacityOfTheSettings) {
  EXPECT_EQ(undo_capacity(0), 16);
  EXPECT_EQ(undo_capacity(8), 8);
  EXPECT_EQ(undo_capacity(64), 64);
  EXPECT_EQ(EditHistory(0).capacity(), 1);
}

}  // namespace
