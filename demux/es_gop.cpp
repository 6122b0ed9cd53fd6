// GOP parsing shared by every demultiplexer (parse_header,
// parse_gop_pictures) and the elementary-stream GOP operations.
#include <algorithm>
#include <cstring>

#include "demux/demuxer.h"
#include "demux/gop_collector.h"
#include "demux/slice_walk.h"
#include "foundation/start_code.h"
#include "foundation/timecode.h"
#include "foundation/trace.h"
#include "foundation/utils.h"
#include "foundation/video_finders.h"

namespace {

constexpr int kSliceScan = 32768;

bool all_intra(const GOP* g) {
  for (int i = 0; i < g->pic_count; ++i)
    if (g->get_pic_type(i) != 1) return false;
  return true;
}

}  // namespace

bool DeMuxer::last_picture_complete(const GOP* g, int have) const {
  const int from = g->get_pic_entry(g->pic_count - 1);
  const int height = st_.seq.get_vertical_size();
  if (height <= 0 || have - from < 8) return false;
  if (st_.video_version != 3) return mpeg1_picture_complete(g->data + from, have - from);
  int rows = (height + 15) / 16;
  if (pp_.pic.get_picture_structure() != 3)
    rows = (height + 31) / 32;
  else if (st_.progressive_sequence == 0)
    rows = 2 * ((height + 31) / 32);
  if (rows > 0xAF) return true;  // rows beyond the start-code range: cannot tell
  // MPEG-2 starts a slice on every macroblock row, so the last slice tells
  // whether the picture is whole.
  int last = -1;  // the last slice or picture start code
  StartCodeCursor c(g->data + from, have - from);
  while (c.find_if([](uint8_t x) { return x <= 0xAF; })) last = c.code();
  return last >= 0x01 && last >= rows;  // a picture header: no slice behind it
}

// MPEG-1 slices may span rows: the picture is whole when its last slice's
// macroblocks reach the last address and the data ends with them.
bool DeMuxer::mpeg1_picture_complete(const uint8_t* pic, int n) const {
  PicHdr hdr;
  if (hdr.decode(pic, n) <= 0) return false;
  const int mb_cols = (st_.seq.get_horizontal_size() + 15) / 16;
  const int mb_count = mb_cols * ((st_.seq.get_vertical_size() + 15) / 16);
  // The last slice or picture start code behind the picture's own.
  int64_t i = -1;
  StartCodeCursor c(pic, n);
  c.seek(4);
  while (c.find_if([](uint8_t x) { return x <= 0xAF; })) i = c.offset();
  if (i < 0 || pic[i + 3] == 0x00) return false;  // no slice
  const int last = mpeg1_slice_last_address(pic + i, int(n - i), mb_cols, mb_count, hdr.picture_coding_type,
                                            hdr.forward_f_code, hdr.backward_f_code);
  if (last != mb_count - 1) trace("GOP: last picture ends at macroblock %d of %d: dropped\n", last + 1, mb_count);
  return last == mb_count - 1;
}

int DeMuxer::parse_header(const uint8_t* b, int n, int* flags, int* header_length) {
  *flags = 0;
  *header_length = 0;
  int code = 0;
  const int step = find_next_header_start(b, n, &code);
  if (code == 0xFFF) return step;
  const int r = n - step;
  int pos = step;  // start of the header being looked at
  if (code == 0x1B3) {
    if (r < 12 || st_.seq.decode(b + step, r) <= 0) goto no_picture;
    *flags |= 4;
    int next = 0;
    int d = find_next_gop_or_picture_start(b + step + 4, r - 4, &next);
    pp_.gop_hdr.set_frame_rate(st_.seq.get_frame_rate());
    if (next == 0xFFF) {
      *header_length = r;
      goto no_picture;
    }
    pos = step + 4 + d;
    *header_length = pos - step;
    code = next;
  }
  if (code == 0x1B8) {
    if (n - pos < 8 || pp_.gop_hdr.decode(b + pos, n - pos) <= 0) goto no_picture;
    *flags |= 2;
    const int d = start_code_find(b + pos + 4, n - pos - 4, 0x00, 4);
    if (d < 0) {
      *header_length = r;
      goto no_picture;
    }
    pos = pos + 4 + d;
    *header_length = pos - step;
  }
  // A picture start code at pos.
  if (n - pos >= 9) {
    if (pp_.pic.decode(b + pos, n - pos) > 0) {
      *flags |= 1;
      return step;
    }
    if (pp_.pic.is_repaired() && r > 9) return step + 9;
    return step;
  }
no_picture:
  if (r >= kSliceScan) {
    // Slice data where a header was expected: look for a slice start code
    // while at least one scan window of bytes is left.
    int p = step + 4;
    while (n - p >= kSliceScan) {
      int sc = 0;
      int64_t d = utils_next_start_code(b + p, n - p, &sc);
      if (!sc) break;
      p += int(d);
      if (n - p < kSliceScan) break;
      if (sc >= 0x101 && sc <= 0x1AF) {
        *flags |= 16;
        return p;
      }
      p += 4;
    }
  }
  return step;
}

int DeMuxer::parse_gop_pictures(GOP* g, const uint8_t* b, int n, int* consumed) {
  const int c = get_payload_size();
  const bool es_video = is_es_video();
  double pending = pp_.picture_pts;
  int state = 0;
  const uint8_t* p = b;
  int left = n;
  while (left > 0) {
    int flags = 0, h = 0;
    int s = parse_header(p, left, &flags, &h);
    p += s;
    left -= s;
    const int r = left;
    if (!flags || r < 6) {
      pending = pp_.last_pic_pts;
      break;
    }
    if (flags & 16) {
      state = 4;
      if (left > 4) {
        p += left - 4;
        left = 4;
      }
      break;
    }
    const int step_off = int(p - g->data);  // entry offset of this step
    if ((flags & 6) && g->pic_count == 0) {
      if (flags & 4) {
        if (st_.video_version == 0) st_.video_version = st_.seq.seq_ext ? 3 : 2;
        if (st_.seq.seq_ext) st_.progressive_sequence = st_.seq.get_progressive_sequence();
        double fr = st_.seq.get_frame_rate();
        if (fr > 0) st_.frame_rate = fr;
      }
      if (flags & 2) g->time_code = pp_.gop_hdr.time_code;
      if (!(flags & 1)) {
        state = 0;
        break;
      }
    } else if ((flags & 6) && !(flags & 1)) {
      pending = pp_.last_pic_pts;
      bool keep = (r - h > c && all_intra(g)) || (step_off >= 0 && step_off < c && !es_video);
      if (!keep) {
        state = 2;
        break;
      }
      // Headers kept in this GOP whose picture is not whole in the bytes
      // yet: wait for the next payload rather than step over the picture.
      if (!es_video && r - h < 1024) break;
    }
    if (flags & 1) {
      const int t = pp_.pic.picture_coding_type;
      if (t == 1 && !(flags & 2)) ++m_.i_without_gop;
      int f = 2, tff = 0;
      bool counts = true, second_field = false;
      if (st_.video_version == 3 && pp_.pic.mpeg2 && pp_.pic.coding_ext) {
        const int structure = pp_.pic.get_picture_structure();
        // The other field of the same frame: no header between them, the
        // opposite parity and the same temporal reference.
        second_field = structure != 3 && !(flags & 6) && pp_.prev_field_structure == (structure ^ 3) &&
                       pp_.prev_field_tr == pp_.pic.temporal_reference;
        pp_.prev_field_structure = second_field || structure == 3 ? 0 : structure;
        pp_.prev_field_tr = pp_.pic.temporal_reference;
        if (t == 1) pp_.field_toggle = 0;
        if (pp_.pic.get_picture_structure() == 3) {
          f = pp_.pic.get_field_count(st_.progressive_sequence);
        } else {
          counts = pp_.field_toggle == 0;
          pp_.field_toggle ^= 1;
        }
        tff = pp_.pic.coding_ext->top_field_first;
      }
      bool entered = false;
      if (t == 1 && g->pic_count == 0) {
        g->add_pic(1, h, f, tff);
        state = 1;
        break;
      }
      if (t == 1) {
        // The second field of an I/I pair always stays with its first.
        bool join = (r - h > c && all_intra(g)) || (step_off < c && !es_video) || st_.collect_all || second_field;
        if (!join) {
          state = 2;
          break;
        }
        g->add_pic(1, step_off, f, tff);
        entered = true;
        if (st_.collect_all) state = 3;
      } else if (counts && g->pic_count > 0 && t >= 1 && t <= 3) {
        g->add_pic(t, step_off, f, tff);
        entered = true;
        state = 3;
      }
      if (entered && !es_video) pending = update_picture_pts(g, pending, r - h <= c);
    }
    const int adv = std::min(h + 6, left);
    p += adv;
    left -= adv;
    if (left <= 12) break;
  }
  pp_.picture_pts = pending;
  *consumed = n - left;
  return state;
}

double DeMuxer::update_picture_pts(GOP* g, double t, int near_end) {
  if (g->pts > kNoTime) return t;
  if (t > kNoTime && near_end) {
    g->pts = t;
    pp_.last_pic_pts = kNoTime;
    return kNoTime;
  }
  if (pp_.last_pic_pts > kNoTime) {
    g->pts = pp_.last_pic_pts;
    pp_.last_pic_pts = t;
  } else {
    pp_.last_pic_pts = t;
  }
  return t;
}

int DeMuxer::resize_gop_data_buffer(GOP* g, int added) {
  const int64_t want = int64_t(g->data_capacity) + added;
  const int64_t cap = (st_.video_info.width > 720 || st_.video_info.height > 576) ? 0xA00000 : 0x500000;
  if (want >= get_gop_bytes_estimate() && want > cap) {
    trace("ERROR (DeMuxer::resize_gop_data_buffer): requested GOP size = %d > %d\n", int(want), int(cap));
    return 0;
  }
  return g->resize_data_buffer(int(want)) >= want ? 1 : 0;
}

std::atomic<long> DeMuxer::parse_gop_calls_{0};

// An elementary stream is its one stream: the stream id is for the system
// classes.
int DeMuxer::parse_gop(GOP* g, int /*stream_id*/, int back_step, int bounded) {
  if (!g || !src_.file) return 0;
  parse_gop_calls_.fetch_add(1, std::memory_order_relaxed);
  FileOffset limit = src_.end_data;
  if (bounded && g->end.less(limit)) limit = g->end;
  const int c = get_payload_size();
  const int estimate = get_gop_bytes_estimate();
  if (!g->data) g->resize_data_buffer(std::max(estimate / 4 * 3, 4 * c));
  bool stepped_back = false;
  int state = 0;
  bool reached_eod = false;
restart:
  g->reset_info();
  g->start = current_offset();
  g->data_valid = 0;
  GopPictureCollector col(*this, g);
  int& have = col.have;
  int& parsed = col.parsed;
  state = 0;
  reached_eod = false;
  {
    while (true) {
      if (state == 2) break;
      const FileOffset pos = current_offset();
      if (pos.greater_or_equal(limit)) {
        reached_eod = pos.greater_or_equal(src_.end_data);
        break;
      }
      if (g->data_capacity - have < c) {
        if (!resize_gop_data_buffer(g, std::max(estimate / 4, 4 * c))) break;
      }
      if (buf_.unread < c) fill_bs_buffer();
      const int64_t to_limit = int64_t(limit.value() - pos.value());
      const int take = int(std::min<int64_t>({int64_t(c), int64_t(buf_.unread), to_limit}));
      if (take <= 0) {
        reached_eod = true;
        break;
      }
      std::memcpy(g->data + have, buf_.bytes.get() + buf_.rd, size_t(take));
      buf_.rd += take;
      buf_.unread -= take;
      have += take;

      int consumed = 0;
      state = col.parse_moving(&consumed);
      if (state == GopPictureCollector::kSliceData && col.slice_data_stops()) {
        parsed += consumed;
        break;
      }
      if (state == 1) {
        if (m_.i_without_gop != 0 && back_step && !stepped_back && g->start.value() > 4096) {
          stepped_back = true;
          goto_offset(FileOffset::from_u64(g->start.value() - 4096));
          goto restart;
        }
        // The GOP begins at its first header: drop what came before it.
        const int cut = parsed + consumed;
        col.start_at(cut);
        g->start.add(cut);
      } else {
        parsed += consumed;
      }
      if (take < c) {
        // End of the data (or of the bounded range).
        if (state != 2 && have - parsed > 4) {
          int more = 0;
          int st = col.parse(&more);
          if (st != 0 || more > 0) state = st == 0 ? state : st;
          if (st == 1) {
            const int cut = parsed + more;
            col.start_at(cut);
            g->start.add(cut);
          } else {
            parsed += more;
          }
        }
        reached_eod = current_offset().greater_or_equal(src_.end_data);
        break;
      }
    }
  }
  if (state == 2) {
    // Bytes from the end of the GOP on belong to the next one.
    const int back = have - parsed;
    if (back <= buf_.rd) {
      buf_.rd -= back;
      buf_.unread += back;
    } else {
      goto_offset(FileOffset::from_u64(g->start.value() + uint64_t(parsed)));
    }
    g->byte_length = parsed;
    g->end = current_offset();
  } else {
    g->byte_length = have;
    col.drop_unfinished_last_picture();
    if (reached_eod) {
      empty_bs_buffer();
      buf_.end = src_.size;
      g->end = src_.size;
    } else {
      // Stopped early (limit, refused growth, slice data): the next parse
      // resumes right behind what this GOP holds, so damage does not hide
      // the rest of the file.
      g->end = FileOffset::from_u64(g->start.value() + uint64_t(g->byte_length));
      goto_offset(g->end);
    }
  }
  g->data_valid = g->byte_length;
  continue_time_code(g);
  if (g->pic_count > 0) {
    g->reset_temporal_reference();
    dump_gop_pts(g);
  }
  g->no_pts = 1;
  return g->pic_count;
}

int DeMuxer::read_gop(GOP* g, int /*stream_id*/, int first_picture_only) {
  if (!g || !src_.file) return 0;
  empty_bs_buffer();
  buf_.end = g->end;
  if (!src_.file->tell().equals(g->start)) src_.file->seek(g->start, 0);
  int n = g->byte_length;
  if (n <= 0) {
    g->data_valid = 0;
    g->no_pts = 1;
    return 0;
  }
  if (first_picture_only && g->pic_count >= 2) n = g->get_pic_entry(1);
  if (g->data_capacity < n) g->resize_data_buffer(n);
  if (g->data_capacity < n) n = g->data_capacity;
  int got = int(src_.file->read(g->data, size_t(n)));
  g->data_valid = got;
  if (got < g->byte_length) src_.file->seek(g->end, 0);
  if (!first_picture_only) g->reset_temporal_reference();
  g->no_pts = 1;
  return got;
}

void DeMuxer::continue_time_code(GOP* g) {
  if (m_.tc_breaks.empty() || g->time_code < 4096) return;
  // Behind a time-code restart the codes continue the earlier parts.
  if (const int shift = tc_correction_at(g->start)) {
    const double fr = get_frame_rate();
    const int drop = (g->time_code >> 24) & 1;
    g->time_code = tc25_word_from_frame(tc25_to_frame(g->time_code, fr) + shift, fr, drop);
  }
}

void DeMuxer::dump_gop_pts(GOP* g) {
  if (!g || g->pic_count <= 0) return;
  const double fr = get_frame_rate();
  const bool has_ts = g->pts > kNoTime;
  const bool has_tc = g->time_code >= 4096;
  if (m_.video_start_pts <= kNoTime && has_ts) m_.video_start_pts = g->pts;
  int field = -1;
  auto from_pts = [&]() {
    int f = int((g->pts - m_.video_start_pts) / (45000.0 / fr) + 0.1);
    if (st_.video_version == 2 && (f & 1)) f += 1;
    return f;
  };
  if (has_ts && (m_.pts_timing || g->time_code == 0)) {
    field = from_pts();
    if (has_tc) {
      int tc_field = 2 * tc25_to_frame(g->time_code, fr);
      if (tc_field != field) {
        trace("%06d-gop (%11.6f): %6d (PTS) - %6d (TC) = %4d\n", int(g->start.value() / 2048 % 1000000),
              g->pts / 90000.0, field, tc_field, field - tc_field);
      }
    }
  } else if (!has_tc && m_.first_field >= 0 && !m_.first_gop_offset.equals(g->start)) {
    if (has_ts) {
      field = from_pts();
    } else {
      const int est = get_gop_bytes_estimate();
      field = int(fr * g->start.to_double() / (est > 0 ? est : 1) + 0.5) * 2;
    }
  } else {
    field = 2 * tc25_to_frame(g->time_code, fr);
    if (m_.pts_timing && m_.first_field > 0 && m_.first_field < field) field -= m_.first_field;
  }
  if (field >= 0) {
    g->first_field = field;
    if (m_.first_field < 0) {
      m_.first_field = field;
      m_.first_gop_offset = g->start;
      if (has_ts && m_.video_start_pts <= kNoTime) m_.video_start_pts = g->pts;
    }
  }
  if (audio_.start_flag) {
    if (audio_.start_pts <= kNoTime) audio_.start_pts = m_.video_start_pts > kNoTime ? m_.video_start_pts : audio_.start_pts;
    audio_.start_flag = 0;
    if (m_.first_gop_tc == 0.0 && has_tc) m_.first_gop_tc = double(g->time_code);
  }
}

// ---- GOP::load_data ----------------------------------------------------------

namespace {

// A demultiplexer over no file: only its picture parser is used.
class GopDataDeMuxer : public DeMuxer {
 public:
  explicit GopDataDeMuxer(int stream_type) : DeMuxer(stream_type) { set_collect_all(1); }
  int get_payload_size() override { return 2048; }
};

}  // namespace

int GOP::load_data(const uint8_t* bytes, int length, int stream_type) {
  if (!bytes || length <= 0) return 0;
  if (data_capacity < length) resize_data_buffer(length);
  if (data_capacity < length) return 0;
  std::memcpy(data, bytes, size_t(length));
  data_valid = length;
  reset_info();
  GopDataDeMuxer dmx(stream_type);
  int pos = 0;
  while (length - pos > 12) {
    int consumed = 0;
    int st = dmx.parse_gop_pictures(this, data + pos, length - pos, &consumed);
    if (st == 0) break;
    if (st == 1)
      pos += std::max(consumed, get_pic_entry(0)) + 6;
    else
      pos += consumed < 1 ? 6 : consumed;
  }
  byte_length = length;
  return pic_count;
}
