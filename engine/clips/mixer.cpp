#include "engine/clips/mixer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "access/effects.h"
#include "foundation/trace.h"

namespace {

constexpr int kNameSize = 64;

int name_of(char* out, const char* name, int kind) {
  std::snprintf(out, kNameSize, "%s", name);
  return kind;
}

short clamp16(int v) { return short(std::clamp(v, -32768, 32767)); }

// Gain in 1/256 units: silence at 0 or less, a copy at 256 or more.
void apply_gain(int g, int n, short* out, const short* in) {
  if (g <= 0) {
    std::memset(out, 0, size_t(n) * sizeof(short));
  } else if (g >= 256) {
    if (out != in) std::memmove(out, in, size_t(n) * sizeof(short));
  } else {
    for (int i = 0; i < n; ++i) out[i] = clamp16((in[i] * g) >> 8);
  }
}

// Fraction of the span as a 1/256 gain. A span of no length is over at once:
// fades are complete and a blend has reached its second input.
int span_gain(double time, double length) {
  if (!(length > 0)) return 256;
  const double g = time / length * 256.0;
  return int(std::clamp(g, -1e6, 1e6));
}

}  // namespace

int mixer_none(double, double, int n, short* out, const short* in1, const short*, char* name) {
  if (name) return name_of(name, "None", 1);
  if (!out || !in1 || n <= 0) return 1;
  if (out != in1) std::memmove(out, in1, size_t(n) * sizeof(short));
  return 1;
}

int mixer_fade_beginning(double time, double length, int n, short* out, const short* in1, const short*,
                         char* name) {
  if (name) return name_of(name, "beginning fade", 1);
  if (!out || !in1 || n <= 0) return 1;
  apply_gain(span_gain(time, length), n, out, in1);
  return 1;
}

int mixer_fade_ending(double time, double length, int n, short* out, const short* in1, const short*,
                      char* name) {
  if (name) return name_of(name, "ending fade", 1);
  if (!out || !in1 || n <= 0) return 1;
  // A span of no length has ended: silence.
  apply_gain(length > 0 ? 256 - span_gain(time, length) : 0, n, out, in1);
  return 1;
}

int mixer_cross_over(double time, double length, int n, short* out, const short* in1, const short* in2,
                     char* name) {
  if (name) return name_of(name, "cross over", 2);
  if (!out || !in1 || !in2 || n <= 0) return 2;
  const double h = length * 0.5;
  if (!(h > 0)) {
    apply_gain(256, n, out, in2);
  } else if (time < h) {
    apply_gain(256 - span_gain(time, h), n, out, in1);
  } else {
    apply_gain(span_gain(time - h, h), n, out, in2);
  }
  return 2;
}

int mixer_blend(double time, double length, int n, short* out, const short* in1, const short* in2,
                char* name) {
  if (name) return name_of(name, "blend", 2);
  if (!out || !in1 || !in2 || n <= 0) return 2;
  const int g = span_gain(time, length);
  if (g == 0) {
    apply_gain(256, n, out, in1);
  } else if (g == 256) {
    apply_gain(256, n, out, in2);
  } else {
    for (int i = 0; i < n; ++i)
      out[i] = clamp16(int(std::clamp<int64_t>((int64_t(in1[i]) * (256 - g) + int64_t(in2[i]) * g) >> 8, -32768, 32767)));
  }
  return 2;
}

MixerOPManager::MixerOPManager() {
  add_op(mixer_none, 0);
  add_op(mixer_fade_beginning, 0);
  add_op(mixer_fade_ending, 0);
  add_op(mixer_cross_over, 0);
  add_op(mixer_blend, 0);
}

int MixerOPManager::add_op(MixerOp func, int) {
  if (!func) {
    trace("MixerOPManager::add_op (ERROR): invalid input parameters: op_func=nil\n");
    return -1;
  }
  char buf[kNameSize] = {};
  const int kind = func(0, 0, 0, nullptr, nullptr, nullptr, buf);
  if (kind != 1 && kind != 2) {
    trace("MixerOPManager::add_op (ERROR): invalid number of input tracks = %d\n", kind);
    return -1;
  }
  if (!buf[0]) {
    trace("MixerOPManager::add_op (ERROR): invalid return for op name string=nil\n");
    return -1;
  }
  std::lock_guard lock(mutex_);
  std::string name = buf;
  for (const MixerEntry& e : entries_)
    if (e.func == func && e.kind == kind && e.name == name) return -1;
  for (bool clash = true; clash;) {
    clash = false;
    for (const MixerEntry& e : entries_)
      if (e.name == name) {
        name = op_name_next_number(name);
        clash = true;
      }
  }
  entries_.push_back(MixerEntry{func, kind, name});
  name_ptrs_.clear();
  for (const MixerEntry& e : entries_) name_ptrs_.push_back(e.name.c_str());
  return int(entries_.size()) - 1;
}

int MixerOPManager::get_count() const {
  std::lock_guard lock(mutex_);
  return int(entries_.size());
}

const MixerEntry* MixerOPManager::entry(int id) const {
  std::lock_guard lock(mutex_);
  return id >= 0 && id < int(entries_.size()) ? &entries_[size_t(id)] : nullptr;
}

MixerOPManager* mixer_op_manager() {
  // Built once, thread-safely, on first use; lives to process exit.
  static MixerOPManager manager;
  return &manager;
}

const char* const* mixer_op_get_names(int* out_count) {
  MixerOPManager* m = mixer_op_manager();
  if (out_count) *out_count = m->get_count();
  return m->names().data();
}

int mixer_op_get_count() { return mixer_op_manager()->get_count(); }

MixerOp mixer_op_get_function(int id) {
  const MixerEntry* e = mixer_op_manager()->entry(id);
  return e ? e->func : nullptr;
}

int mixer_op_get_kind(int id) {
  const MixerEntry* e = mixer_op_manager()->entry(id);
  return e ? e->kind : 0;
}
