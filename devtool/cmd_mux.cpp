// mux, esfilter and muxrates: the program-stream multiplexer over
// elementary files, the video elementary-stream filter, and the lowest
// multiplex rates of a set of streams.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "demux/video_es_filter.h"
#include "devtool/command.h"
#include "foundation/bsfile.h"
#include "mux/mux_drivers.h"

namespace {

struct StopAt {
  int code = 0;
  double percent = 0;
};

bool open_inputs(const char* cmd, int argc, const char* const* argv, int first, std::vector<ESData>* list) {
  for (int i = first; i < argc; ++i) {
    ESData e;
    if (open_mux_input(argv[i], &e) != 0) {
      dev_fail("%s: <%s>: not an MPEG audio, AC-3 or MPEG video elementary stream, nor a WAVE file", cmd, argv[i]);
      return false;
    }
    list->push_back(e);
  }
  return true;
}

}  // namespace

static int run_mux(int argc, char** argv) {
  int type = 0, svcd = 0, vbr = 0, minimize = 0;
  long long offset = 0, pmt_pid = 0, video_pid = 0, audio_pid = 0;
  int nav = 0;
  std::vector<double> chapters;
  StopAt stop;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--kind" && i + 1 < argc) {
      const std::string k = argv[++i];
      if (k == "mpeg1")
        type = 4;
      else if (k == "vcd")
        type = 5;
      else if (k == "ps")
        type = 6;
      else if (k == "svcd")
        type = 7, svcd = 1;
      else if (k == "ts")
        type = 8;
      else if (k == "dvd")
        type = 6, nav = 1;
      else
        return dev_usage("mux", "kind '%s' is not mpeg1, vcd, ps, svcd, ts or dvd", k.c_str());
    } else if ((a == "--pmt-pid" || a == "--video-pid" || a == "--audio-pid") && i + 1 < argc) {
      long long* v = a == "--pmt-pid" ? &pmt_pid : a == "--video-pid" ? &video_pid : &audio_pid;
      if (!dev_parse_int(argv[++i], v) || *v < 16 || *v > 8190)
        return dev_usage("mux", "%s '%s' is not a PID within 16..8190", a.c_str(), argv[i]);
    } else if (a == "--chapters" && i + 1 < argc) {
      const std::string list = argv[++i];
      size_t at = 0;
      while (at <= list.size()) {
        const size_t comma = list.find(',', at);
        const std::string item = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end || v < 0) return dev_usage("mux", "'%s' is not a list of seconds", list.c_str());
        chapters.push_back(v);
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
    } else if (a == "--vbr") {
      vbr = 1;
    } else if (a == "--minimize") {
      minimize = 1;
    } else if (a == "--offset" && i + 1 < argc) {
      if (!dev_parse_int(argv[++i], &offset)) return dev_usage("mux", "offset '%s' is not milliseconds", argv[i]);
    } else if (a == "--stop" && i + 1 < argc) {
      double pct = 0;
      int code = 0;
      if (std::sscanf(argv[++i], "%d@%lf", &code, &pct) != 2)
        return dev_usage("mux", "'%s' is not CODE@PERCENT", argv[i]);
      stop.code = code;
      stop.percent = pct;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return dev_usage("mux", "unknown option '%s'", a.c_str());
    } else {
      files.push_back(argv[i]);
    }
  }
  if (!type) return dev_usage("mux", "--kind is required");
  if (files.size() < 2) return dev_usage("mux", "an output and at least one input are needed");
  std::vector<ESData> list;
  std::vector<const char*> names(files.begin() + 1, files.end());
  if (!open_inputs("mux", int(names.size()), names.data(), 0, &list)) return 1;
  for (auto& e : list)
    if (!e.is_video()) {
      e.audio_offset = offset;
      break;
    }
  long long next_audio_pid = audio_pid;
  for (auto& e : list) {
    if (e.is_video() && video_pid) e.pid = int(video_pid);
    if (!e.is_video() && next_audio_pid) e.pid = int(next_audio_pid++);
  }
  JobControl control;
  control.set_progress_callback([&control, stop](double percent) {
    if (stop.code != 0 && percent >= stop.percent && percent < 100.0) control.set_command_word(stop.code);
  });
  MuxReport report;
  const double bytes = muxer_encode(files[0], type, int(list.size()), list.data(), &control, vbr, svcd, minimize,
                                    int(pmt_pid), &report, nav, NavChapters{chapters.data(), int(chapters.size())});
  for (const MuxStreamReport& s : report.streams)
    std::printf("stream id=0x%02X sub_id=0x%02X pid=%d kind=%d packets=%d bytes=%lld buffer=%d\n", s.stream_id,
                s.sub_id, s.pid, s.kind, s.packets, static_cast<long long>(s.bytes), s.buffer);
  for (const auto& n : report.nav_packs)
    std::printf("nav lbn=%u scr=%u s_ptm=%u e_ptm=%u ea=%u cell=%u\n", n[0], n[1], n[2], n[3], n[4], n[5]);
  if (report.type == 8 && bytes > 0) {
    for (const MuxStreamReport& s : report.streams)
      std::printf("pid id=0x%02X pid=%d type=0x%02X\n", s.stream_id, s.pid, s.stream_type);
    std::printf("pid pmt=%d\n", report.pmt_pid);
  }
  const int result = int(control.result());
  const char* state = result == kMuxStopped ? "stopped" : (bytes <= 0 || result == kMuxFailed) ? "failed" : "done";
  std::printf("mux kind=%d svcd=%d nav=%d mux_rate=%d bytes=%lld packs=%lld result=%d status=%s\n", report.type,
              report.svcd, report.nav, report.mux_rate, static_cast<long long>(bytes),
              static_cast<long long>(report.packs), result, state);
  return std::strcmp(state, "failed") == 0 ? 1 : 0;
}

TAMSEL_DEV_COMMAND(mux,
                   "--kind mpeg1|vcd|ps|svcd|ts|dvd [--chapters S[,S...]] [--vbr] [--minimize] [--offset MS] [--stop CODE@PERCENT] "
                   "[--pmt-pid N] [--video-pid N] [--audio-pid N] OUT IN...",
                   "multiplex elementary streams into a program or transport stream", run_mux);

static int run_esfilter(int argc, char** argv) {
  int insert = 0;
  long long chunk = 65536;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--insert") {
      insert = 1;
    } else if (a == "--chunk" && i + 1 < argc) {
      if (!dev_parse_int(argv[++i], &chunk) || chunk < 1 || chunk > (1 << 26))
        return dev_usage("esfilter", "chunk '%s' is not a byte count", argv[i]);
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return dev_usage("esfilter", "unknown option '%s'", a.c_str());
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() != 2) return dev_usage("esfilter", "an input and an output are needed");
  int err = 0;
  BSFile in(files[0], 1, &err);
  if (err || !in.is_open()) return dev_fail("esfilter: <%s>: cannot open", files[0]);
  BSFile out(files[1], 2, &err);
  if (err || !out.is_open()) return dev_fail("esfilter: <%s>: cannot create", files[1]);
  VideoESFilter f;
  std::vector<uint8_t> buf(static_cast<size_t>(chunk));
  long long bytes_in = 0, bytes_out = 0;
  for (;;) {
    const size_t got = in.read(buf.data(), buf.size());
    int n = 0;
    const uint8_t* p = got ? f.filter_data(buf.data(), int(got), &n, insert) : f.take_output(&n);
    if (!p) return dev_fail("esfilter: out of memory");
    bytes_in += static_cast<long long>(got);
    if (n > 0 && out.write(p, size_t(n)) != size_t(n)) return dev_fail("esfilter: <%s>: write failed", files[1]);
    bytes_out += n;
    if (!got) break;
  }
  out.close();
  std::printf("esfilter bytes_in=%lld bytes_out=%lld gops=%d pictures=%d rewritten=%d inserted=%d\n", bytes_in,
              bytes_out, f.gop_headers(), f.pictures(), f.rewritten(), f.inserted());
  return 0;
}

TAMSEL_DEV_COMMAND(esfilter, "IN OUT [--insert] [--chunk N]",
                   "pass a video elementary stream through the filter (continuous time codes, header insertion)",
                   run_esfilter);

static int run_muxrates(int argc, char** argv) {
  if (argc < 2) return dev_bad_count("muxrates", argc);
  std::vector<ESData> list;
  if (!open_inputs("muxrates", argc, argv, 1, &list)) return 1;
  int out[5] = {0, 0, 0, 0, 0};
  mux_rates_for_es_list(out, int(list.size()), list.data());
  std::printf("muxrates video=%d mpeg1=%d vcd=%d ps=%d ts=%d\n", out[0], out[1], out[2], out[3], out[4]);
  return 0;
}

TAMSEL_DEV_COMMAND(muxrates, "IN...", "lowest multiplex rates of elementary streams (bit/s)", run_muxrates);
