// muxjob: the Multiplexer tool's job over elementary files, as its dialog
// drives it: inputs, PIDs, estimates and checks, then the run.
#include <cstdio>
#include <string>
#include <vector>

#include "devtool/command.h"
#include "mux/muxjob.h"

static int run_muxjob(int argc, char** argv) {
  long long format = 0, pmt = 0, video = 0, audio = 0, offset = 0;
  bool have_offset = false;
  int svcd = 0, vbr = 0, minimize = 0;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    long long* value = a == "--format" ? &format : a == "--pmt-pid" ? &pmt : a == "--video-pid" ? &video
                     : a == "--audio-pid" ? &audio : a == "--offset" ? &offset : nullptr;
    if (value && i + 1 < argc) {
      if (!dev_parse_int(argv[++i], value)) return dev_usage("muxjob", "%s '%s' is not a number", a.c_str(), argv[i]);
      if (value == &offset) have_offset = true;
    } else if (a == "--svcd") {
      svcd = 1;
    } else if (a == "--vbr") {
      vbr = 1;
    } else if (a == "--minimize") {
      minimize = 1;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return dev_usage("muxjob", "unknown option '%s'", a.c_str());
    } else {
      files.push_back(argv[i]);
    }
  }
  if (format < 1) return dev_usage("muxjob", "--format N is required");
  if (files.size() < 2) return dev_usage("muxjob", "an output and at least one input are needed");
  MUXerFacade* facade = MUXerFacade::create();
  MUXer& m = *facade->muxer();
  m.set_vbr(vbr);
  m.set_svcd(svcd);
  m.set_minimize_size(minimize);
  for (size_t i = 1; i < files.size(); ++i) {
    if (!m.add_es(files[i], 0, 0)) {
      std::printf("refused file=%s\n", files[i]);
      continue;
    }
    const int k = m.count() - 1;
    std::printf("input file=%s kind=%d id=0x%02X pid=%d\n", files[i], m.naming_kind(k), m.input(k).stream_id,
                m.input(k).pid);
  }
  if (pmt) m.set_pmt_pid(int(pmt));
  if (video) m.set_video_pid(int(video));
  if (audio) m.set_audio_pid(int(audio));
  if (have_offset) m.set_audio_offset(offset, nullptr);
  double sizes[5];
  m.estimate_sizes(sizes);
  for (int f = 1; f <= 4; ++f) std::printf("estimate format=%d bytes=%.0f\n", f, sizes[f]);
  std::printf("compliant vcd=%d svcd=%d\n", m.is_vcd_compliant(), m.is_svcd_compliant());
  std::printf("pids pmt=%d video=%d audio=%d\n", m.pmt_pid(), m.video_pid(), m.audio_pid());
  JobControl control;
  const double bytes = m.run(files[0], int(format), &control);
  const int result = int(control.result());
  const char* state = result == kMuxStopped ? "stopped" : (bytes <= 0 || result == kMuxFailed) ? "failed" : "done";
  std::printf("muxjob format=%lld type=%d result=%d bytes=%.0f status=%s\n", format,
              MUXer::mux_type_of_format(int(format)), result, bytes, state);
  MUXerFacade::destroy(facade);
  return std::string(state) == "failed" ? 1 : 0;
}

TAMSEL_DEV_COMMAND(muxjob,
                   "OUT --format N [--svcd] [--vbr] [--minimize] [--pmt-pid N] [--video-pid N] [--audio-pid N] "
                   "[--offset MS] IN...",
                   "run the Multiplexer tool's job over elementary streams", run_muxjob);
