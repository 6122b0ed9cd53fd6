// One registered effect operation applied to whole frames: the picture of a
// transition (two inputs) or a one-picture effect, at one position of it.
#pragma once

class Frame;

class Effect {
 public:
  Effect() = default;
  Effect(int op_id, int op_length, int value1, int value2) { new_clip(op_id, op_length, value1, value2); }

  // Restarts with another operation; the id, or 0 when refused (the effect
  // then copies its source).
  int new_clip(int op_id, int op_length, int value1, int value2);
  // Renders position (0-based inside the operation) into out; 0 on
  // success, 1 on failure (out then holds a copy of source when it can).
  int effect(int position, Frame* out, Frame* source, Frame* second);

  int get_op_id() const { return op_id_; }
  int get_op_length() const { return op_length_; }

 private:
  int op_id_ = 0, op_length_ = 0, value1_ = 0, value2_ = 0;
};
