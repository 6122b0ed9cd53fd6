// JPEG decoder: baseline sequential (SOF0) and progressive (SOF2) Huffman
// pictures from a file or a memory buffer, delivered as planar 4:2:0 of a
// requested size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/jpeg_common.h"
#include "picture/plane_utils.h"

class Frame;
struct StillPicture;

// Derived decoding table of one Huffman table.
struct JpegHuffTable {
  static constexpr int kLookBits = 9;
  // (code length << 8) | symbol for codes of at most kLookBits that start
  // with the index's bits; 0 when a longer code starts there.
  uint16_t look[1 << kLookBits];
  int32_t maxcode[18];   // largest code of each length, -1 when none
  int32_t valoffset[17]; // symbol index minus the smallest code of the length
  uint8_t symbols[256];
  bool valid = false;

  // False for an over-subscribed code space or more than 256 symbols.
  bool build(const uint8_t* counts, const uint8_t* values);
};

// Coefficients of one 8 x 8 block in natural order.
struct JpegBlock {
  int16_t coef[64];
};

class JDecoder {
 public:
  JDecoder() = default;
  ~JDecoder() = default;
  JDecoder(const JDecoder&) = delete;
  JDecoder& operator=(const JDecoder&) = delete;

  // Results: 2 end of image reached; 4 failure (no usable frame header or
  // no scan); 1 the data ended early (the picture holds what was decoded).
  int decode(const char* name);
  int decode(const uint8_t* buffer, size_t length);

  // Whole MCUs, as the picture is decoded.
  int get_width() const;
  int get_height() const;
  // 1 for 2 x 2 luminance sampling (4:2:0), 3 for 1 x 1, 2 otherwise.
  int get_sampling_kind() const;
  size_t get_output_size() const;

  // 4:2:0 planes of width x height one after the other (Cb, Cr at half
  // size), the picture centred (1 x 1 sampling: anchored top-left);
  // 0 on success, 4 on failure.
  int get_picture(uint8_t* buffer, int width, int height);
  // The same into planes with their own strides; centre 0 anchors the
  // picture top-left.
  int get_picture_planes(const YuvPlanes& dst, int centre);
  // 4:2:0 output at the decoder's own size; a null buffer gets a new one
  // (delete[] by the caller). Null on failure.
  uint8_t* get_yuv420(uint8_t* buffer, int width, int height);
  // Output for 1 x 1 sampling into width x height (both at least 16).
  int get_sif_from_rgb(uint8_t* buffer, int width, int height);

  // Into the frame's picture at the frame's size, mapped to video range;
  // the buffer or null.
  uint8_t* copy_to_frame(Frame* target);

  // Reads a file into a new buffer (delete[]); *size on entry is the most
  // to read (0: all), on return the bytes read.
  static uint8_t* load_data(const char* name, size_t* size);

  // Fields.
  uint16_t qt[4][64] = {};
  JpegScanHeader scan;
  JpegFrameHeader frame;
  bool have_frame = false;
  int restart_interval = 0;

 private:
  struct Component {
    int h = 1, v = 1, tq = 0;
    int blocks_w = 0, blocks_h = 0;  // allocated, whole MCUs
    int scan_bw = 0, scan_bh = 0;    // covered by a one-component scan
    int stride = 0;
    std::vector<uint8_t> plane;
    std::vector<JpegBlock> blocks;   // progressive pictures only
    int pred = 0;
  };

  int walk(const uint8_t* data, size_t length);
  bool read_sof(const uint8_t* p, int len, uint16_t marker);
  bool read_dht(const uint8_t* p, int len);
  bool read_dqt(const uint8_t* p, int len);
  bool read_sos(const uint8_t* p, int len);
  // Entropy-coded data of the current scan from data[pos]; returns the
  // position where it stopped.
  size_t decode_scan(const uint8_t* data, size_t length, size_t pos);
  void finish_progressive();
  bool render_420(const uint8_t** cb, const uint8_t** cr, int* cstride);

  Component comp_[3];
  int ncomp_ = 0;
  int hmax_ = 1, vmax_ = 1;
  int sub_x_ = 2, sub_y_ = 2;  // chroma subsampling of the picture
  int mcus_x_ = 0, mcus_y_ = 0;
  bool progressive_ = false;
  bool scanned_ = false;
  int scan_comp_[3] = {};
  JpegHuffTable dc_tbl_[4], ac_tbl_[4];
  Quant quant_{90};
  std::vector<uint8_t> chroma420_;
};

// 0 when the file looks decodable (exactly one frame header and one SOI
// among its top-level segments, at least one DHT, DQT and SOS in the first
// 512 KB), 1 otherwise.
int jpeg_check_file(const char* name);

// JPEG pictures are full-range YCbCr, movie frames video range (luma
// 16-235, chroma 16-240): maps the planes' area in place.
void full_range_to_video_range(const YuvPlanes& p);
// And back, for writing stills.
void video_range_to_full_range(const YuvPlanes& p);

// Loads a JPEG still into a new 4:2:0 frame of the decoder's size (video
// range); null on failure. The caller owns the frame.
Frame* load_jpeg_image(const char* name);

// A JPEG still into a picture of its true size (the decoded picture from
// its top-left corner, video range); clip type 11, 0 on failure.
int jpeg_load_still(const char* name, StillPicture* out);
