#include "foundation/gop.h"

#include <cstdlib>
#include <cstring>

#include "foundation/pic_header.h"
#include "foundation/start_code.h"
#include "foundation/timecode.h"
#include "foundation/trace.h"

// ---- LGOP -----------------------------------------------------------------

LGOP::LGOP() { reset(); }

LGOP::LGOP(const LGOP& other) : LGOP() { copy(&other); }

LGOP::~LGOP() {
  std::free(pic_table);
  pic_table = nullptr;
}

void LGOP::reset() {
  std::free(pic_table);
  pic_table = nullptr;
  pic_table_size_ = 0;
  previous = next = nullptr;
  byte_length = 0;
  start.zero();
  end.zero();
  total_fields = first_field = 0;
  time_code = 0;
  pic_count = 0;
  vbs_offset = 0;
  pts = kNoTime;
}

bool LGOP::copy(const LGOP* other) {
  if (!other) return false;
  assign(*other);
  return true;
}

void LGOP::assign(const LGOP& other) {
  if (&other == this) return;
  byte_length = other.byte_length;
  start = other.start;
  end = other.end;
  total_fields = other.total_fields;
  first_field = other.first_field;
  pts = other.pts;
  vbs_offset = other.vbs_offset;
  time_code = other.time_code;
  set_pic_table(other.pic_table, other.pic_count);
}

void LGOP::set_pic_table(const uint32_t* entries, int count) {
  if (!entries || count <= 0) {
    std::free(pic_table);
    pic_table = nullptr;
    pic_table_size_ = 0;
    pic_count = 0;
    return;
  }
  if (pic_table_size_ < count) {
    uint32_t* t = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * size_t(count)));
    if (!t) return;
    std::free(pic_table);
    pic_table = t;
    pic_table_size_ = count;
  }
  std::memmove(pic_table, entries, sizeof(uint32_t) * size_t(count));
  pic_count = count;
}

int LGOP::equals(const LGOP& other) const {
  if (&other == this) return 0;
  int diff = 0;
  diff += !end.equals(other.end);
  diff += !start.equals(other.start);
  diff += first_field != other.first_field;
  diff += total_fields != other.total_fields;
  diff += byte_length != other.byte_length;
  diff += pic_count != other.pic_count;
  if (diff) return diff;
  if (pic_count <= 0 || !pic_table || !other.pic_table) return 0;
  int c = std::memcmp(pic_table, other.pic_table, sizeof(uint32_t) * size_t(pic_count));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int LGOP::compare(const LGOP& other) const {
  if (&other == this) return 0;
  if (is_empty() && other.is_empty()) {
    if (start.less(other.start)) return -1;
    if (!start.equals(other.start)) return 1;
    return vbs_offset < other.vbs_offset ? -1 : vbs_offset > other.vbs_offset ? 1 : 0;
  }
  if (end.less_or_equal(other.start)) return -1;
  if (start.greater_or_equal(other.end)) return 1;
  return 0;
}

bool LGOP::is_contiguous_with(const LGOP& other, double frame_rate) const {
  if (&other == this || !start.equals(other.end)) return false;
  if (!is_empty() && !other.is_empty()) return true;
  return tc25_to_frame(time_code, frame_rate) - tc25_to_frame(other.time_code, frame_rate) == other.pic_count;
}

int LGOP::get_pic_type(int i) const {
  if (!pic_table || i < 0 || i >= pic_count) return 1;
  return type_of(i);
}

int LGOP::get_pic_fields(int i) const {
  if (!pic_table || i < 0 || i >= pic_count) return 2;
  return fields_of(i);
}

int LGOP::get_pic_flag(int i) const {
  if (!pic_table || i < 0 || i >= pic_count) return 0;
  return int((pic_table[i] >> 29) & 1);
}

int LGOP::get_pic_entry(int i) const {
  if (!pic_table || i < 0) return 0;
  if (i >= pic_count) return byte_length;
  return int(pic_table[i] & kPicOffsetMask);
}

int LGOP::pack_field_count(int fields, int flag) {
  int code = fields == 3 ? 1 : fields == 4 ? 2 : fields == 6 ? 3 : 0;
  return (flag ? 4 : 0) + code;
}

void LGOP::add_header_bytes(int n) {
  if (!pic_table) {
    trace("ERROR (LGOP::add_header_bytes): no picture table\n");
    return;
  }
  for (int i = 0; i < pic_count; ++i) {
    uint32_t off = (pic_table[i] & kPicOffsetMask) + uint32_t(n);
    pic_table[i] = (pic_table[i] & ~kPicOffsetMask) | (off & kPicOffsetMask);
  }
  byte_length += n;
}

int LGOP::get_pic_display_field(int i) const {
  if (i < 0 || !pic_table) return 0;
  if (i >= pic_count) return total_fields;
  if (total_fields == 2 * pic_count) {
    if (type_of(i) == 3) return i > 0 ? (i - 1) * 2 : 0;  // a leading B would go negative
    int k = i + 1;
    while (k < pic_count && type_of(k) == 3) ++k;
    return (i + (k - i - 1)) * 2;
  }
  if (type_of(i) != 3) {
    int f = 0;
    for (int k = 0; k < i; ++k) f += fields_of(k);
    for (int k = i + 1; k < pic_count && type_of(k) == 3; ++k) f += fields_of(k);
    return f;
  }
  int r = i - 1;
  while (r > 0 && type_of(r) == 3) --r;
  if (r < 0) return 0;
  int f = 0;
  for (int k = 0; k < r; ++k) f += fields_of(k);
  for (int k = r + 1; k < i; ++k) f += fields_of(k);
  return f;
}

int LGOP::get_coded_field_offset(int i) const {
  if (i < 1 || !pic_table) return 0;
  if (i >= pic_count) return total_fields;
  int f = 0;
  for (int k = 0; k < i; ++k) f += fields_of(k);
  return f;
}

int LGOP::get_field_offset_after_pic(int i) const {
  if (i < 1 || !pic_table) return 0;
  if (i >= pic_count) return total_fields;
  int f = 0, ref = 0;
  for (int k = 0; k <= i; ++k) {
    f += fields_of(k);
    if (type_of(k) != 3) ref = fields_of(k);
  }
  return f - ref;
}

int LGOP::get_last_ref_pic_offset(int i) const {
  if (i < 1 || !pic_table) return 0;
  if (i > pic_count) return total_fields;
  int f = 0, ref = 0;
  for (int k = 0; k < i; ++k) {
    f += fields_of(k);
    if (type_of(k) != 3) ref = fields_of(k);
  }
  return f - ref;
}

int LGOP::frame_to_pic(int frame, int round) const {
  if (frame < 1) return 0;
  if (total_fields == 2 * pic_count) return frame;
  const int r = round > 0 ? 1 : 0;
  if (2 * frame + r >= total_fields) return pic_count;
  if (pic_count < 2 || !pic_table) return 0;
  const int k = first_pic_showing(2 * frame - r);
  return k < 0 ? pic_count - 1 : k;
}

int LGOP::field_to_pic(int field) const {
  if (field < 1) return 0;
  if (field >= total_fields) return pic_count;
  if (total_fields == 2 * pic_count) return (field + 1) / 2;
  if (pic_count < 2 || !pic_table) return 1;
  const int k = first_pic_showing(field);
  return k < 0 ? pic_count : k;
}

int LGOP::first_pic_showing(int fields) const {
  // A reference picture is shown when the next one arrives; B pictures at once.
  int pending = fields_of(0), shown = 0;
  for (int k = 1; k < pic_count; ++k) {
    if (type_of(k) != 3) {
      shown += pending;
      pending = fields_of(k);
    } else {
      shown += fields_of(k);
    }
    if (shown >= fields) return k;
  }
  return -1;
}

// ---- GOP ------------------------------------------------------------------

GOP::GOP() { init_data(); }

GOP::GOP(const GOP& other) : GOP() { *this = other; }

GOP::~GOP() {
  std::free(data);
  data = nullptr;
}

void GOP::init_data() {
  data = nullptr;
  data_capacity = 0;
  data_word = 0;
  list_capacity = 0;
  no_pts = 0;
  data_valid = 0;
}

void GOP::reset_info() {
  pic_count = 0;
  total_fields = 0;
  time_code = 0;
  vbs_offset = 0;
  pts = kNoTime;
  no_pts = 0;
}

GOP& GOP::operator=(const GOP& other) {
  if (&other == this) return *this;
  assign(other);
  if (other.data && other.valid_bytes() > 0) {
    copy_data(other);
  } else {
    data_valid = 0;  // keep the allocation, but it no longer holds this GOP
  }
  data_word = other.data_word;
  no_pts = other.no_pts;
  pid = other.pid;
  return *this;
}

GOP& GOP::operator=(const LGOP& other) {
  if (&other == this) return *this;
  assign(other);
  data_valid = 0;
  return *this;
}

void GOP::copy_info(const GOP& other) {
  if (&other == this) return;
  assign(other);
  data_valid = 0;
  data_word = other.data_word;
  no_pts = other.no_pts;
  pid = other.pid;
}

void GOP::reset_record() {
  reset();
  list_capacity = 0;
  data_word = 0;
  no_pts = 0;
  data_valid = 0;
  pid = 0;
}

void GOP::copy_data(const GOP& other) {
  int n = other.valid_bytes();
  if (!other.data || n <= 0) return;
  if (data_capacity < n) resize_data_buffer(n);
  if (data_capacity < n) {
    data_valid = 0;
    return;
  }
  std::memcpy(data, other.data, size_t(n));
  data_valid = n;
  data_word = other.data_word;
}

int GOP::resize_data_buffer(int n) {
  if (n <= data_capacity) return data_capacity;
  size_t cap = size_t(n) + 131072;
  uint8_t* p = static_cast<uint8_t*>(std::calloc(cap + 32, 1));
  if (!p) {
    trace("ERROR (GOP::resize_data_buffer): new [%d] failed\n", int(cap));
    return data_capacity;
  }
  if (byte_length < 0) {
    trace("ERROR (GOP::resize_data_buffer): byte_length = %d < 0\n", byte_length);
    byte_length = 0;
  }
  // Keep whatever the buffer holds, also while a fresh GOP is still being
  // parsed and has no length yet: its leading headers are in there.
  if (data) std::memcpy(p, data, size_t(data_capacity));
  std::free(data);
  data = p;
  data_capacity = int(cap);
  return data_capacity;
}

int GOP::resize_list(int n) {
  if (!pic_table) list_capacity = 0;
  if (n <= list_capacity) return list_capacity;
  uint32_t* t = static_cast<uint32_t*>(std::calloc(size_t(n), sizeof(uint32_t)));
  if (!t) return list_capacity;
  if (pic_table && pic_count > 0) std::memcpy(t, pic_table, sizeof(uint32_t) * size_t(pic_count));
  std::free(pic_table);
  pic_table = t;
  list_capacity = n;
  pic_table_size_ = n;
  return list_capacity;
}

void GOP::set_pic_list(const uint32_t* entries, int count) {
  if (!entries || count <= 0) {
    std::free(pic_table);
    pic_table = nullptr;
    pic_table_size_ = list_capacity = 0;
    pic_count = 0;
    return;
  }
  if (entries == pic_table) {
    pic_count = count <= list_capacity ? count : pic_count;
    return;
  }
  if (list_capacity < count) {
    pic_count = 0;  // nothing worth keeping
    resize_list(count);
    if (list_capacity < count) return;
  }
  std::memcpy(pic_table, entries, sizeof(uint32_t) * size_t(count));
  pic_count = count;
}

int GOP::add_pic(int type, int offset, int fields, int top_field_first) {
  if (!pic_table || pic_count >= list_capacity) {
    // Geometric growth: a GOP is assembled one picture at a time.
    int want = list_capacity < 16 ? 32 : list_capacity * 2;
    if (!pic_table) pic_count = 0;
    if (resize_list(want) <= pic_count) return pic_count;
  }
  uint32_t entry = (uint32_t(offset) & kPicOffsetMask) | (uint32_t(type & 3) << 30);
  int code = pack_field_count(fields, top_field_first);
  if (code) entry |= uint32_t(code & 7) << 27;
  pic_table[pic_count++] = entry;
  total_fields += unpack_field_count(code);
  return pic_count;
}

void GOP::remove_last_pic() {
  if (pic_count <= 0 || !pic_table) return;
  byte_length = get_pic_entry(pic_count - 1);
  total_fields -= fields_of(pic_count - 1);
  --pic_count;
}

namespace {

// Offset of the picture start code at or after `from` (a picture entry may
// begin with sequence and GOP headers); -1 when none lies within n bytes.
int picture_start(const uint8_t* d, int from, int n) {
  // A sequence or GOP code byte is never 00, so no picture code overlaps one.
  StartCodeCursor c(d, n);
  c.seek(from);
  return c.find(0x00) ? static_cast<int>(c.offset()) : -1;
}

// picture_structure of the picture coding extension that follows the picture
// header at `pic`; 3 (frame) when there is none.
int picture_structure(const uint8_t* d, int pic, int n) {
  int pos = pic + 8;
  while (pos + 7 <= n) {
    const uint8_t* q = static_cast<const uint8_t*>(std::memchr(d + pos, 0x01, size_t(n - pos)));
    if (!q) return 3;
    int at = int(q - d) - 2;
    if (at >= pic + 4 && d[at] == 0 && d[at + 1] == 0) {
      if (at + 7 > n || d[at + 3] != 0xB5) return 3;
      if ((d[at + 4] >> 4) != 8) return 3;
      return d[at + 6] & 3;
    }
    pos = int(q - d) + 1;
  }
  return 3;
}

}  // namespace

int GOP::get_pic_temporal_reference(int i) const {
  if (!data || i < 0 || i >= pic_count) return -1;
  const int n = valid_bytes();
  int off = get_pic_entry(i);
  if (off + 12 > n) return -1;
  int pic = picture_start(data, off, n);
  if (pic < 0 || pic + 6 > n) return -1;
  int type = read_picture_coding_type(data + pic);
  if (type < 1 || type > 4) return -1;
  int tr = read_temporal_reference(data + pic);
  return tr >= pic_count ? pic_count - 1 : tr;
}

double GOP::get_pic_time(int i, double frame_rate) const {
  if (frame_rate <= 0) return 0.0;
  if (pts >= 0) {
    int tr = get_pic_temporal_reference(i);
    return tr > 0 ? pts + 90000.0 / frame_rate * tr : pts;
  }
  if (time_code > 0) return (get_pic_temporal_reference(i) + (first_field + 1) / 2) / frame_rate * 90000.0;
  return 0.0;
}

int GOP::reset_temporal_reference() {
  const int n = valid_bytes();
  if (!data || n <= 0 || pic_count <= 0 || !pic_table) {
    trace("GOP::reset_temporal_reference (): empty GOP\n");
    return 0;
  }
  if (get_pic_temporal_reference(0) == 0) return 0;
  if (pic_count > 1 && type_of(1) == 3 && get_pic_temporal_reference(1) == 0) return 0;
  int first = picture_start(data, get_pic_entry(0), n);
  const bool field_pairs = first >= 0 && picture_structure(data, first, n) != 3;
  int rewritten = 0;
  for (int i = 0; i < pic_count; ++i) {
    int expected;
    if (type_of(i) == 3) {
      expected = i - 1;
    } else {
      int k = i + 1;
      while (k < pic_count && type_of(k) == 3) ++k;
      expected = i + (k - i - 1);
    }
    if (expected < 0) expected = 0;
    int off = get_pic_entry(i);
    int lim = i + 1 < pic_count ? get_pic_entry(i + 1) : n;
    if (lim > n) lim = n;
    if (off >= lim) continue;
    int pic = picture_start(data, off, lim);
    if (pic < 0 || pic + 6 > lim) continue;  // offsets checked against the bytes held
    if (read_temporal_reference(data + pic) != expected) {
      write_temporal_reference(data + pic, expected);
      ++rewritten;
    }
    if (field_pairs) {
      int second = picture_start(data, pic + 6, lim);
      if (second >= 0 && second + 6 <= lim && read_temporal_reference(data + second) != expected) {
        write_temporal_reference(data + second, expected);
        ++rewritten;
      }
    }
  }
  return rewritten;
}
