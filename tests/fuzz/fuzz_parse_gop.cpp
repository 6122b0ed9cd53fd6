// GOP parsing of arbitrary coded bytes: the picture parser through
// GOP::load_data, then the temporal-reference rewrite and the field
// arithmetic over whatever table came out.
#include <cstdint>
#include <cstring>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/gop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  for (int type : {2, 3}) {
    GOP g;
    g.load_data(size ? data : nullptr, int(size), type);
    g.reset_temporal_reference();
    for (int i = -1; i <= g.pic_count; ++i) {
      g.get_pic_display_field(i);
      g.get_field_offset_after_pic(i);
      g.get_last_ref_pic_offset(i);
      g.get_pic_temporal_reference(i);
      g.frame_to_pic(i, i & 1);
      g.field_to_pic(i);
    }
    GOP copy;
    copy = g;
    copy.remove_last_pic();
  }
  return 0;
}
