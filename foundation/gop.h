// Per-GOP records. LGOP is what the GOP index keeps for every group of
// pictures: byte span, field numbering and a packed table of one 32-bit
// entry per coded picture. GOP adds the coded bytes that the demultiplexers
// fill and that frame access and the cutting paths read.
#pragma once

#include <cstdint>

#include "foundation/file_offset.h"

// Picture-table entry: bits 0-26 byte offset in the GOP's data, 27-28 field
// code (0 = 2 fields, 1 = 3, 2 = 4, 3 = 6), 29 top_field_first, 30-31
// picture_coding_type (1 I, 2 P, 3 B).
constexpr uint32_t kPicOffsetMask = 0x7FFFFFF;
constexpr double kNoTime = -4294967297.0;

class LGOP {
 public:
  LGOP();
  LGOP(const LGOP& other);
  virtual ~LGOP();
  virtual bool is_time_set() const { return pts > kNoTime; }
  virtual void set_pic_table(const uint32_t* entries, int count);
  virtual void unused_slot() {}

  void reset();
  // Copies everything but the list links; refuses a nil source.
  bool copy(const LGOP* other);
  void assign(const LGOP& other);
  LGOP& operator=(const LGOP& other) {
    assign(other);
    return *this;
  }
  int equals(const LGOP& other) const;
  int compare(const LGOP& other) const;
  bool is_contiguous_with(const LGOP& other, double frame_rate) const;
  bool is_empty() const { return start.equals(end); }

  int get_vbs_offset() const { return vbs_offset; }
  void set_vbs_offset(int v) { vbs_offset = v < 0 ? 0 : v; }

  int get_pic_type(int i) const;
  int get_pic_fields(int i) const;
  int get_pic_flag(int i) const;
  int get_pic_entry(int i) const;
  static int pack_field_count(int fields, int flag);
  static int unpack_field_count(int code) {
    static const int fields[4] = {2, 3, 4, 6};
    return fields[code & 3];
  }
  void add_header_bytes(int n);

  int get_pic_display_field(int i) const;
  int get_pic_display_frame(int i) const { return get_pic_display_field(i) / 2; }
  int get_pic_stream_field(int i) const { return get_pic_display_field(i) + first_field; }
  int get_pic_stream_frame(int i) const { return get_pic_stream_field(i) / 2; }
  int get_coded_field_offset(int i) const;
  int get_coded_frame_offset(int i) const { return (get_coded_field_offset(i) + 1) / 2; }
  int get_field_offset_after_pic(int i) const;
  int get_field_offset_after_next_pic(int i) const { return get_field_offset_after_pic(i + 1); }
  int get_last_ref_pic_offset(int i) const;
  int frame_to_pic(int frame, int round) const;
  int field_to_pic(int field) const;

  // Frame arithmetic of the index: first displayed frame, the frame after
  // the GOP, and the frames it shows.
  int first_frame() const { return (first_field + 1) >> 1; }
  int end_frame() const { return (first_field + total_fields + 1) >> 1; }
  int frames() const { return (total_fields + 1) >> 1; }

  LGOP* previous = nullptr;
  LGOP* next = nullptr;
  int byte_length = 0;
  FileOffset start;
  FileOffset end;
  int total_fields = 0;
  int first_field = 0;
  uint32_t time_code = 0;
  int pic_count = 0;
  uint32_t* pic_table = nullptr;
  int vbs_offset = 0;
  double pts = kNoTime;

 protected:
  int pic_table_size_ = 0;  // entries allocated for pic_table
  int fields_of(int i) const { return unpack_field_count(int(pic_table[i] >> 27)); }
  int type_of(int i) const { return int(pic_table[i] >> 30); }
  // Coded index (>= 1) of the first picture at which display order has shown
  // `fields` fields; -1 when the GOP ends first. Needs pic_count >= 2.
  int first_pic_showing(int fields) const;
};

class GOP : public LGOP {
 public:
  GOP();
  GOP(const GOP& other);
  ~GOP() override;
  bool has_pts() const { return no_pts == 0 && pts > kNoTime; }
  void set_pic_table(const uint32_t* entries, int count) override { set_pic_list(entries, count); }
  virtual void set_pic_list(const uint32_t* entries, int count);

  GOP& operator=(const GOP& other);
  GOP& operator=(const LGOP& other);
  // Everything of other but its coded bytes (this GOP holds none after).
  void copy_info(const GOP& other);
  // A fresh GOP that keeps its buffers for the next parse.
  void reset_record();
  void reset_info();
  void init_data();
  void copy_data(const GOP& other);
  int resize_data_buffer(int n);
  int resize_list(int n);
  int add_pic(int type, int offset, int fields, int top_field_first);
  void remove_last_pic();
  int get_pic_temporal_reference(int i) const;
  double get_pic_time(int i, double frame_rate) const;
  // Rebuilds the picture table from coded bytes (defined with the
  // demultiplexers, whose picture parser it runs).
  int load_data(const uint8_t* bytes, int length, int stream_type);
  int reset_temporal_reference();

  // Bytes of data that belong to this GOP (data may hold stale bytes beyond).
  int valid_bytes() const { return data_valid < byte_length ? data_valid : byte_length; }

  uint8_t* data = nullptr;
  int data_capacity = 0;
  uint32_t data_word = 0;
  int list_capacity = 0;
  int no_pts = 0;
  int data_valid = 0;  // bytes of data that hold this GOP's coded bytes
  int pid = 0;         // PID of the video stream in transport streams
};
