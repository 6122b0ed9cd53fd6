// Clip-list reader over arbitrary text: whatever it returns holds only
// usable clips. Media names in the input are looked up like any others.
#include <cstdint>
#include <cstdio>

#include "engine/clips/cliplist_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!f) return 0;
  std::string name;
  int a = 0, b = 0, c = 0;
  const int merge = data[0] & 1;
  if (check_cliplist_id(f) != 0) std::rewind(f);
  MPEG_Clip* list = read_cliplist(f, &name, &a, &b, &c, merge);
  for (const MPEG_Clip* r = list; r; r = r->next)
    if (r->clip_type < 1 || r->clip_type > 14 || r->count < 1) __builtin_trap();
  mpeg_clip_list_free(list);
  std::fclose(f);
  return 0;
}
