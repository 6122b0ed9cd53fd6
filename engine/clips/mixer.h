// Audio mixer operations: plain functions over blocks of 16-bit PCM that
// fade one track or mix two over a transition span. The registration order
// is the mixer id stored by projects.
#pragma once

#include <mutex>
#include <string>
#include <vector>

// (time in the span, span length, sample count, output, first input, second
// input, name buffer) -> number of input tracks. Times are seconds; samples
// count every channel. With a name buffer only the name is written.
using MixerOp = int (*)(double, double, int, short*, const short*, const short*, char*);

struct MixerEntry {
  MixerOp func = nullptr;
  int kind = 1;
  std::string name;
};

class MixerOPManager {
 public:
  MixerOPManager();
  // Registers an operation; its id, or -1 when refused.
  int add_op(MixerOp func, int tag);
  int get_count() const;
  const MixerEntry* entry(int id) const;
  const std::vector<const char*>& names() const { return name_ptrs_; }

 private:
  mutable std::mutex mutex_;
  std::vector<MixerEntry> entries_;
  std::vector<const char*> name_ptrs_;
};

MixerOPManager* mixer_op_manager();
const char* const* mixer_op_get_names(int* out_count);
int mixer_op_get_count();
MixerOp mixer_op_get_function(int id);
int mixer_op_get_kind(int id);

int mixer_none(double, double, int, short*, const short*, const short*, char*);
int mixer_fade_beginning(double, double, int, short*, const short*, const short*, char*);
int mixer_fade_ending(double, double, int, short*, const short*, const short*, char*);
int mixer_cross_over(double, double, int, short*, const short*, const short*, char*);
int mixer_blend(double, double, int, short*, const short*, const short*, char*);
