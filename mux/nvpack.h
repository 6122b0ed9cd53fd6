// DVD navigation packs: the facts of each VOBU collected while a program
// stream is written, the VOB, cell and chapter assignment, the VOBU search
// words, and the pass that patches every NV pack of the finished file in
// place (one 2048-byte read and write per VOBU, through one descriptor).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kNavPackBytes = 2048;
constexpr int kNavMaxChapters = 127;
constexpr int kNavMaxAudio = 8;
constexpr uint32_t kNavMaxLbn = 1u << 30;

struct NVPackEntry {
  uint32_t lbn = 0, scr = 0, s_ptm = 0, e_ptm = 0;
  uint32_t ref_end[3] = {0, 0, 0};  // LBN of each of the first three reference pictures' last pack
  uint32_t next_lbn = 0;
  uint32_t c_eltm = 0;  // 90 kHz since the cell's start
  int cell = 0, vob = 0;
  int audio_count = 0;
  uint32_t audio_lbn[kNavMaxAudio] = {};  // first pack of each audio stream in the VOBU (0: none)
  uint32_t fwd[21] = {}, bwd[21] = {};
  bool sri_set = false;
};

class NVPackList {
 public:
  explicit NVPackList(int vob_id = 1) : vob_id_(vob_id >= 1 && vob_id <= 99 ? vob_id : 1) {}
  void add(const NVPackEntry& e) { entries_.push_back(e); }
  int size() const { return static_cast<int>(entries_.size()); }
  NVPackEntry& entry(int i) { return entries_[size_t(i)]; }
  const NVPackEntry& entry(int i) const { return entries_[size_t(i)]; }
  void set_frame_rate(double fps) { fps_ = fps; }

  // Chapter starts in seconds (the first is the stream start). 1 when the
  // list is ready for the patch pass, 0 when refused.
  int prepare(const double* chapters, int count);
  int prepared() const { return prepared_; }
  // The search reference of each entry (see SetSRIParam).
  void PrepareSRI(int divisor);
  // Fills the 42 search words of one entry; 0 when refused.
  int SetSRIParam(int current);

  // The two packets of one entry's NV pack written over a 2048-byte pack
  // that already holds its pack and system headers.
  void fill_pack(int i, uint8_t* pack) const;
  // The NV pack placeholder: pack header given, system header given, PCI and
  // DSI packets zeroed.
  static int placeholder(uint8_t* pack, const uint8_t* pack_header, int pack_header_bytes,
                         const uint8_t* system_header, int system_header_bytes);
  // Patches every NV pack of the file open on fd; 0 on success, -1 when a
  // read or write falls short.
  int patch(int fd) const;

  // BCD time of a 90 kHz value: hours, minutes, seconds, frames with the
  // rate flag in the frames byte.
  static uint32_t bcd_time(uint32_t ticks, double fps);

 private:
  std::vector<NVPackEntry> entries_;
  std::vector<int> sri_ref_;
  std::vector<double> chapters_;
  int prepared_ = 0;
  int sri_ready_ = 0;
  int divisor_ = 30;
  int vob_id_;
  double fps_ = 25.0;
};
