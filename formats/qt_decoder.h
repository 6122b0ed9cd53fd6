// Reader of a QuickTime movie whose video track holds one JPEG picture per
// sample ('jpeg'): random access to its pictures, decoded with JDecoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/jpeg_decoder.h"
#include "formats/qt_atoms.h"
#include "foundation/bsfile.h"
#include "picture/plane_utils.h"

struct StillPicture;

class Frame;

class QT_Decoder {
 public:
  // Largest 'moov' atom and sample read (a larger size field is damage).
  static constexpr int64_t kMaxRead = int64_t{64} << 20;

  // status: 0 open, 1 failure (the object may then only be destroyed).
  // header_only: movie values only, no decoder and no picture.
  QT_Decoder(const char* name, int* status, int header_only = 0);
  ~QT_Decoder() = default;
  QT_Decoder(const QT_Decoder&) = delete;
  QT_Decoder& operator=(const QT_Decoder&) = delete;

  // Makes sample n the decoded one; 0 on success, 1 on failure.
  int decode_video_sample(int n);

  // Planar forms: the picture goes into dst in video range (null: decode
  // only).
  int goto_sample_planes(int n, const YuvPlanes* dst);
  int copy_frame_planes(const YuvPlanes& dst);
  int forward_planes(const YuvPlanes* dst, int n);
  int backward_planes(const YuvPlanes* dst, int n);

  // Frame forms (the frame's picture at the frame's size).
  int goto_sample(int n, Frame* frame);
  int copy_frame(Frame* frame);
  int forward(Frame* frame, int n);
  int backward(Frame* frame, int n);

  int get_total_samples() const { return total_samples; }

  // Fields.
  BSFile file;
  std::string file_name;  // set after a complete open
  std::vector<uint8_t> sample_buffer;
  std::unique_ptr<QT_Moov> moov;
  std::unique_ptr<JDecoder> jpeg;
  int64_t bit_rate = 0;
  double frame_rate = 0.0;
  int total_samples = 0;
  int width = 0, height = 0;
  int current_sample = 0;
  int decoded = 0;

 private:
  bool open(const char* name, int header_only);
  bool find_moov(std::vector<uint8_t>* moov_bytes);
  bool scan_for_moov(std::vector<uint8_t>* moov_bytes);
  bool grow(size_t needed);
  int put_picture(const YuvPlanes* dst);
  QT_Stbl* video_tables() const;
};

// The first picture of a QuickTime JPEG movie at its true size (video
// range); clip type 13, 0 on failure.
int qt_load_still(const char* name, StillPicture* out);
