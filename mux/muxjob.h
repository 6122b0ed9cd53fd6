// The Multiplexer tool's job: the inputs the user lists, their stream ids
// and PIDs, the output options, compliance checks and size estimates, and
// the run on the tool's worker thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/es_data.h"
#include "mux/mux_drivers.h"
#include "mux/muxer.h"

class MUXer {
 public:
  // 1 when added, 0 when refused (unreadable, already listed, no free id).
  int add_es(const char* file_name, int stream_id, int pid);
  // Removes the first input of that name (and stream id when nonzero).
  int remove_es(const char* file_name, int stream_id);
  // Output bytes of the five kinds of mux_rates_for_es_list; 0 without
  // inputs.
  int estimate_sizes(double out[5]);
  // 0 when an input took the offset, 1 when none fits.
  int set_audio_offset(int64_t ms, const char* file_name);
  int set_vbr(int flag) {
    const int old = vbr_;
    vbr_ = flag;
    return old;
  }
  // Each returns the value in force: a PID is taken when it lies within
  // 16..8190 and none of the PIDs it would give meets the PMT PID or the
  // other kind's PIDs.
  int set_pmt_pid(int pid);
  int set_video_pid(int pid);
  int set_audio_pid(int pid);
  int is_vcd_compliant() const;
  int is_svcd_compliant() const;
  // One video, MPEG-2 within the DVD limits: a plain MPEG-2 program stream
  // of it is written as a DVD title with navigation packs.
  int is_dvd_video() const;
  // Dialog format 1 MPEG-1 System, 2 Video CD, 3 MPEG-2 program, 4 MPEG-2
  // transport, any other MPEG-2 program. Returns the bytes written.
  double run(const char* out_name, int format, JobControl* status, MuxReport* report = nullptr);
  static int mux_type_of_format(int format);

  int count() const { return static_cast<int>(es_.size()); }
  const ESData& input(int i) const { return es_[size_t(i)]; }
  int naming_kind(int i) const { return kinds_[size_t(i)]; }
  int pmt_pid() const { return pmt_pid_; }
  int video_pid() const { return video_pid_; }
  int audio_pid() const { return audio_pid_; }
  int vbr() const { return vbr_; }
  void set_svcd(int on) { svcd_ = on; }
  void set_minimize_size(int on) { minimize_ = on; }
  int count_vbr_video() const;

 private:
  // The PIDs the inputs get: each kind from its base, 16 apart.
  void assign_pids();
  bool pids_clash(int pmt, int video_base, int audio_base) const;

  std::vector<ESData> es_;
  std::vector<int> kinds_;
  int32_t vbr_ = 1;
  int32_t pmt_pid_ = 16;
  int32_t video_pid_ = 17;
  int32_t audio_pid_ = 20;
  int32_t svcd_ = 0;
  int32_t estimates_valid_ = 0;
  int32_t minimize_ = 0;
  StreamIdTable ids_;
};

// The dialog's one-pointer holder.
class MUXerFacade {
 public:
  static MUXerFacade* create();
  static void destroy(MUXerFacade* f);
  MUXer* muxer() { return m_.get(); }
  int add_es(const char* name, int stream_id, int pid) { return m_->add_es(name, stream_id, pid); }
  int remove_es(const char* name, int stream_id) { return m_->remove_es(name, stream_id); }
  int estimate_sizes(double out[5]) { return m_->estimate_sizes(out); }
  int set_audio_offset(int64_t ms, const char* name) { return m_->set_audio_offset(ms, name); }
  int set_vbr(int flag) { return m_->set_vbr(flag); }
  int set_pmt_pid(int pid) { return m_->set_pmt_pid(pid); }
  int set_video_pid(int pid) { return m_->set_video_pid(pid); }
  int set_audio_pid(int pid) { return m_->set_audio_pid(pid); }
  int count_vbr_video() const { return m_->count_vbr_video(); }
  void set_svcd(int on) { m_->set_svcd(on); }
  void set_minimize_size(int on) { m_->set_minimize_size(on); }
  int is_vcd_compliant() const { return m_->is_vcd_compliant(); }
  int is_svcd_compliant() const { return m_->is_svcd_compliant(); }
  double run(const char* out, int format, JobControl* status) { return m_->run(out, format, status); }

 private:
  MUXerFacade() : m_(std::make_unique<MUXer>()) {}
  std::unique_ptr<MUXer> m_;
};
