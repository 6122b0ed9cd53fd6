// The pictures of one GOP, gathered from its data as a demultiplexer appends
// video payload to the GOP's buffer. The elementary, program and transport
// GOP parsers share it, so that they agree on where a GOP begins, when the
// next one starts and whether its last picture is whole.
#pragma once

#include "demux/demuxer.h"

class GopPictureCollector {
 public:
  // The parser's states (DeMuxer::parse_gop_pictures).
  enum State { kNeedMore = 0, kFirstPicture = 1, kNextGop = 2, kPictures = 3, kSliceData = 4 };

  GopPictureCollector(DeMuxer& dmx, GOP* g) : dmx_(dmx), g_(g) {}

  // Runs the picture parser over the appended bytes not parsed yet
  // (data[parsed, have)); the bytes it took in *consumed.
  int parse(int* consumed) {
    *consumed = 0;
    return dmx_.parse_gop_pictures(g_, g_->data + parsed, have - parsed, consumed);
  }
  // parse() for a parser fed in chunks: when it takes nothing twice in a
  // row, the second time is counted as 4 bytes so that the walk moves on.
  int parse_moving(int* consumed);
  // Slice data where headers were expected, counted: true at the fifth
  // finding (the GOP stops there).
  bool slice_data_stops() { return ++slice_findings_ >= 5; }
  int slice_findings() const { return slice_findings_; }
  // The GOP's first header lies `cut` bytes into the data: moves it to the
  // front and parses on behind the first picture's start code.
  void start_at(int cut);
  // The data ended without the next GOP: drops the last picture when its
  // slices stop short (streams often end without a sequence end code).
  void drop_unfinished_last_picture();

  int have = 0;    // bytes in g->data
  int parsed = 0;  // bytes the parser has passed over

 private:
  DeMuxer& dmx_;
  GOP* g_;
  int slice_findings_ = 0;
  bool last_zero_ = false;
};
