#include "app/tools/mbs_scan.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <strings.h>

#include "app/tools/tool_text.h"
#include "demux/timestamp_scan.h"
#include "engine/tool_facades.h"
#include "platform/services.h"

const char* mbs_kind_name(int kind) {
  switch (kind) {
    case 1: return "timebase";
    case 2: return "video";
    case 3: return "audio";
    default: return "";
  }
}

std::string mbs_segment_name(const std::string& input, int kind, int n) {
  return input + "_" + mbs_kind_name(kind) + "_" + std::to_string(n) + ".mbs";
}

std::string mbs_file_text(const std::string& input, double start, double end) {
  char seg[96];
  std::snprintf(seg, sizeof seg, "Segment= %10.0f %10.0f\n", start, end);
  return "[MBSFile]\nNumFile= 1\nFile= " + input + "\n" + seg + "\n";
}

std::string mbs_grouped(double n) {
  const int g = int(n * 1e-9 + 0.1);
  const double rest = n - g * 1e9;
  const int m = int(rest * 1e-6 + 0.1);
  const int k = int((rest - m * 1e6) * 0.001 + 0.1);
  const int u = int(rest - m * 1e6 - k * 1000.0 + 0.1);
  char t[64];
  if (g) std::snprintf(t, sizeof t, "%d,%03d,%03d,%03d", g, m, k, u);
  else if (!m) std::snprintf(t, sizeof t, "%d,%03d", k, u);
  else std::snprintf(t, sizeof t, "%d,%03d,%03d", m, k, u);
  return t;
}

std::vector<std::string> mbs_info_lines(const MbsSegment& s, int index) {
  std::vector<std::string> out;
  char t[256];
  std::snprintf(t, sizeof t, "Segment #%d: ", index + 1);
  out.push_back(t);
  out.push_back("File Offset (byte):  start = " + mbs_grouped(s.start) + "; end = " + mbs_grouped(s.end) +
                "; length = " + mbs_grouped(s.end - s.start) + " ");
  std::snprintf(t, sizeof t, "MPEG-%d video", s.video.mpeg2 ? 2 : 1);
  out.push_back(t);
  std::snprintf(t, sizeof t, "resolution: %d x %d ", s.video.width, s.video.height);
  out.push_back(t);
  std::snprintf(t, sizeof t, "frame rate: %.2f ", s.video.frame_rate);
  out.push_back(t);
  const int kbs = s.video.bit_rate / 1000;
  if (kbs >= 1000) std::snprintf(t, sizeof t, "bit rate (kbs): %d,%03d ", kbs / 1000, kbs % 1000);
  else std::snprintf(t, sizeof t, "bit rate (kbs): %d ", kbs);
  out.push_back(t);
  if (!s.audio.sample_rate) {
    out.insert(out.end(), 4, std::string());
    return out;
  }
  const int type = s.audio.get_audio_type();
  if (type == 9) std::snprintf(t, sizeof t, "Dolby AC-3 ");
  else if (type == 10) std::snprintf(t, sizeof t, "Linear PCM (uncompressed) ");
  else std::snprintf(t, sizeof t, "MPEG-1 Layer-%d ", s.audio.layer);
  out.push_back(t);
  std::snprintf(t, sizeof t, "sample rate: %.1f kHz ", s.audio.sample_rate / 1000.0);
  out.push_back(t);
  if (type == 9 && (s.audio.full_channels == 6 || s.audio.channels == 6)) std::snprintf(t, sizeof t, "channels: 6 (5.1) ");
  else std::snprintf(t, sizeof t, "channels: %d (%s) ", s.audio.channels, s.audio.channels == 2 ? "stereo" : "mono");
  out.push_back(t);
  std::snprintf(t, sizeof t, "bit rate (kpbs): %d ", s.audio.bit_rate / 1000);
  out.push_back(t);
  return out;
}

MbsScan::MbsScan()
    : scan_(std::make_unique<TimeStampScanFacade>()),
      // The window shows the percentage in its own bar.
      job_([](const ProgressViewSpec&, JobProgressView::Report) { return std::unique_ptr<JobProgressView>(); }) {
  scan_->create();
  job_.set_on_end([this](const ToolJob::End&) {
    percent_ = 100;
    paused_ = false;
    build_segments();
  });
}

MbsScan::~MbsScan() { job_.stop_and_join(); }

bool MbsScan::set_input(const std::string& name) {
  if (busy()) return false;
  if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".mbs") == 0) return false;
  auto fresh = std::make_unique<TimeStampScanFacade>();
  fresh->create();
  if (fresh->open(name.c_str()) != 0) return false;
  scan_ = std::move(fresh);
  for (auto& s : segments_) s.clear();
  input_ = name;
  percent_ = 0;
  kind_ = 1;
  return true;
}

void MbsScan::scan_or_pause() {
  if (!busy()) {
    if (input_.empty()) return;
    paused_ = false;
    percent_ = 0;
    for (auto& s : segments_) s.clear();
    TimeStampScanFacade* f = scan_.get();
    job_.start([f](JobControl& c) { f->scan(&c); }, {"Scan", input_, 0, 0});
    return;
  }
  paused_ = !paused_;
  if (paused_) job_.control().pause();
  else job_.control().resume();
}

void MbsScan::stop() {
  if (busy()) job_.control().set_command(JobCommand::stop_keep);
}

void MbsScan::poll() { job_.poll(); }

void MbsScan::build_segments() {
  int first = 0;
  for (int kind = 1; kind <= 3; ++kind) {
    segments_[kind].clear();
    const TimeStampEntry* e = nullptr;
    const int n = scan_->get_list(kind, &e);
    for (int i = 0; i < n && e; ++i) {
      MbsSegment s;
      s.file = mbs_segment_name(input_, kind, int(segments_[kind].size()) + 1);
      s.start = e[i].start;
      s.end = e[i].end;
      s.video = e[i].video;
      s.audio = e[i].audio;
      std::ofstream f(s.file, std::ios::binary | std::ios::trunc);
      f << mbs_file_text(input_, s.start, s.end);
      f.close();
      if (!f) {
        // Reported: a segment the user cannot open is not silently lost.
        platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                     text_with_name("<%s>: cannot open to write\n", s.file));
        continue;
      }
      segments_[kind].push_back(std::move(s));
    }
    if (!first && !segments_[kind].empty()) first = kind;
  }
  if (first) kind_ = first;
}

void MbsScan::select_kind(int kind) {
  if (kind >= 1 && kind <= 3) kind_ = kind;
}

const std::vector<MbsSegment>& MbsScan::segments(int kind) const {
  return segments_[kind >= 1 && kind <= 3 ? kind : 0];
}

std::vector<std::string> MbsScan::ok_files() const {
  std::vector<std::string> files;
  for (const MbsSegment& s : segments(kind_)) files.push_back(s.file);
  if (files.empty() && !input_.empty()) files.push_back(input_);
  return files;
}
