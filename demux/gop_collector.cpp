#include "demux/gop_collector.h"

#include <algorithm>
#include <cstring>

#include "foundation/utils.h"

int GopPictureCollector::parse_moving(int* consumed) {
  const int state = parse(consumed);
  if (*consumed == 0) {
    if (last_zero_) *consumed = std::min(4, have - parsed);
    last_zero_ = !last_zero_;
  } else {
    last_zero_ = false;
  }
  return state;
}

void GopPictureCollector::start_at(int cut) {
  std::memmove(g_->data, g_->data + cut, size_t(have - cut));
  have -= cut;
  parsed = std::min(g_->get_pic_entry(0) + 6, have);
  last_zero_ = false;
}

void GopPictureCollector::drop_unfinished_last_picture() {
  const int leftover = have - parsed;
  if (g_->pic_count < 2 || leftover < 4) return;
  int sc = 0;
  (void)utils_next_start_code(g_->data + parsed, leftover, &sc);
  if (sc != 0x1B7 && sc != 0x1B3 && sc != 0x1B8 && sc != 0x100 && !dmx_.last_picture_complete(g_, have))
    g_->remove_last_pic();
}
