// Stream-type probe: what a media file is (stream type code, estimated bit
// rate, VBR flag, CD sector layout), decided from its first mebibyte and
// kept in one process-wide list so each file is probed once while it stays
// the same (real path, size and modification time).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/file_offset.h"
#include "foundation/file_stamp.h"

// The bytes from the start of a file that the type probes look at.
constexpr int kProbeBytes = 0x100000;

// One probed file.
class MPEGFile {
 public:
  MPEGFile() = default;

  // All fields 0, no name.
  void reset();
  // Frees the name, then resets.
  void clear() { reset(); }

  // Equality with a full path name. Linux names are case-sensitive, so the
  // comparison is exact (two names differing in case are two files).
  bool has_name(const char* other) const;
  // 1 while the file's size and modification time equal the stored ones.
  int is_unchanged() const;
  int get_stream_type() const { return stream_type; }
  int is_vcd_sectors() const { return cd_sectors == 1; }

  // Probes the file: 0 on success, 1 on failure.
  int init(const char* file_name);
  // Runs the probes over data in order; 0 when one accepts, 1 otherwise.
  int detect_type(const uint8_t* data, int n);

  int is_audio_es(const uint8_t* data, int n);
  int is_ac3(const uint8_t* data, int n);
  int is_transport(const uint8_t* data, int n);
  int is_system(const uint8_t* data, int n);
  int is_video_es(const uint8_t* data, int n);

  std::string name;
  int stream_type = 0;
  int32_t bit_rate = 0;
  int vbr = 0;
  int64_t time = 0;     // modification time, seconds
  int64_t time_ns = 0;  // and nanoseconds within that second
  FileOffset size;
  int cd_sectors = 0;  // 1 MPEG-1 system, 2 MPEG-2 program stream in CD sectors
  int recorder_file = 0;
};

// The process-wide list of probed files. Thread-safe; a probe never runs
// under the lock.
class MPEGFileList {
 public:
  static MPEGFileList& instance();

  // A copy of the record of name, probing the file when it is not listed
  // or has changed; none when the name cannot be resolved or probed.
  std::optional<MPEGFile> find(const char* file_name);
  // Probes name (a full path) and lists it; its index, or -1 when the
  // probe failed. A record of the same file is replaced.
  int add(const char* full_name);
  void remove(int index) { files_.erase(index); }
  int count() const { return files_.count(); }

 private:
  StampedCache<MPEGFile> files_;
};

// Queries by file name (each finds or probes the record).
int mpegfile_get_stream_type(const char* name);
int mpegfile_get_stream_type_and_bit_rate(const char* name, int* bit_rate);
int mpegfile_is_vbr(const char* name);
int mpegfile_is_vcd_sectors(const char* name);

// Size through the file layer; 0 when the file does not open.
FileOffset mpegfile_get_file_size(const char* name);

namespace mpegfile {
// Reads up to *length bytes (0x80000 when *length < 1) from the start of a
// file into a buffer with 8 spare zero bytes; *length becomes the count
// read. None when the file does not open or is empty.
[[nodiscard]] std::unique_ptr<uint8_t[]> load_data(const char* name, int* length);
}  // namespace mpegfile

// Bit rate of MPEG audio frames at the start of data when `frames` frames
// (fewer when fewer fit) follow each other; 0 otherwise.
int mpegfile_probe_audio_bit_rate(const uint8_t* data, int n, int frames);
// Bit rate of the first sequence header; *type = 3 (MPEG-2) or 2. 0 when
// none decodes.
int mpegfile_probe_video_bit_rate(const uint8_t* data, int n, int* type = nullptr);
// Bit rate of a program stream from its packs, system headers or PES.
int mpegfile_probe_pes_bit_rate(const uint8_t* data, int n);
// Bit rate of a transport stream starting at a packet boundary.
int mpegfile_probe_ts_bit_rate(const uint8_t* data, int n);
// 1 when most pictures carry vbv_delay 0xFFFF.
int mpegfile_detect_vbr(const uint8_t* data, int n);
// Replaces an implausible bit rate by one measured over more of the file.
int mpegfile_estimate_bit_rate(int type, int bit_rate, const char* name);
// 1 when another pack start code stands a CD sector after the pack at p
// (*distance: the spacing found before, updated on a hit).
int mpegfile_find_sector_pack(const uint8_t* p, int remain, int* distance);
