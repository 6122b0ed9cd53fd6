// Effect registry: the built-in transition and overlay operations in a fixed
// order (the order is the effect id stored by clips, overlays and projects).
#pragma once

#include <string>
#include <vector>

class Image;

// (first value, second value, output, first input, second input, name
// buffer, reserved, reserved) -> kind (1 one input picture, 2 transition).
// With a name buffer the operation only writes its name.
using EffectOp = unsigned (*)(int, int, Image*, Image*, Image*, char*, int, int);

struct OPEntry {
  void set(EffectOp f, int k, const char* n) {
    func = f;
    kind = k;
    name = n ? n : "";
  }
  void clear() {
    func = nullptr;
    kind = 1;
    name.clear();
  }
  EffectOp func = nullptr;
  int kind = 2;
  std::string name;
};

class EffectOPManager {
 public:
  EffectOPManager();
  // Registers an operation; its id, or -1 when refused.
  int add_op(EffectOp func, int tag);
  bool check_op(EffectOp func, int kind, const char* name) const;
  int get_count() const { return int(entries_.size()); }
  const OPEntry* entry(int id) const;
  const std::vector<const char*>& names() const { return name_ptrs_; }

 private:
  std::vector<OPEntry> entries_;
  std::vector<const char*> name_ptrs_;
  int builtin_count_ = 0;
};

EffectOPManager* effect_op_manager();
const char* const* effect_op_get_names(int* out_count);
int effect_op_get_count();
const char* effect_op_get_name(int id);
EffectOp effect_op_get(int id);
int effect_op_check_id(int id);
bool effect_op_is_title(int id);
// The next free variant of a name: "Blend" -> "Blend 2", "X 2" -> "X 3".
std::string op_name_next_number(const std::string& name);

// The built-in operations (ids 0-9).
unsigned effect_none(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_wipe_horizontal(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_wipe_vertical(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_wipe_rotate(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_blend(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_zoom(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_keying_title(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_color_keying_title(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_fade_beginning(int, int, Image*, Image*, Image*, char*, int, int);
unsigned effect_fade_ending(int, int, Image*, Image*, Image*, char*, int, int);
