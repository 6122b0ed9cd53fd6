// Pictures written one by one as an MPEG-1 or MPEG-2 video elementary stream
// of intra pictures: the "save frame as MPEG" of the editor and image
// sequences. The first picture fixes the format (small pictures MPEG-1).
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "foundation/video_info.h"

class Encoder;
class Image;

class AddImageSequence {
 public:
  // *failed: 0 when the file was created, else 1 (nothing is then written).
  AddImageSequence(const char* path, int* failed);
  // Closes as close() does.
  ~AddImageSequence();
  AddImageSequence(const AddImageSequence&) = delete;
  AddImageSequence& operator=(const AddImageSequence&) = delete;

  // aspect_ratio_information of the sequence header (0: the encoder's
  // default); returns the previous code.
  int set_aspect_ratio(int code);
  // Codes the image as the next picture; 1 done, 0 refused or failed (a
  // write that falls short fails and is not counted).
  int add_image(Image* image);
  // Writes the sequence end code when anything was written and closes the
  // file; 0 when every byte reached it, 1 otherwise. Idempotent.
  int close();

  long long get_bytes_written() const { return bytes_written_; }
  int get_pictures_written() const { return pictures_written_; }
  // The encoder once the first picture made it (null before).
  const Encoder* get_encoder() const { return encoder_.get(); }

  // Quantiser codes tried in turn until a picture fits the decoder buffer.
  static const int kQuantSteps[];

 private:
  int init(const VideoInfo& info);

  std::string file_name_;
  FILE* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  long long bytes_written_ = 0;
  std::unique_ptr<Encoder> encoder_;
  int pictures_written_ = 0;
  int aspect_ratio_code_ = 0;
  int write_failed_ = 0;
};
