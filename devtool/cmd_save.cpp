// save IN[,IN...] OUT --keep [F@]A:B[,...] [options]: saves the kept frame
// ranges of the inputs, in that order, as one movie through the save
// pipeline: GOPs inside a range copied byte for byte, headers fixed on the
// way, the frames around each cut re-encoded (whole GOPs only with
// --gop-only).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_option.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/cliplist_file.h"
#include "mux/es.h"
#include "record/record_data.h"
#include "record/save_request.h"

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(sep, from);
    out.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) break;
    from = at + 1;
  }
  return out;
}

bool parse_range(const std::string& text, SaveRange* r) {
  std::string t = text;
  const size_t at = t.find('@');
  long long f = 0;
  if (at != std::string::npos) {
    if (!dev_parse_int(t.substr(0, at).c_str(), &f)) return false;
    t = t.substr(at + 1);
  }
  const size_t colon = t.find(':');
  if (colon == std::string::npos) return false;
  long long a = 0, b = 0;
  if (!dev_parse_int(t.substr(0, colon).c_str(), &a) || !dev_parse_int(t.substr(colon + 1).c_str(), &b)) return false;
  r->file = int(f);
  r->first = a;
  r->last = b;
  return a >= 0 && b >= a;
}

struct StopPlan {
  int code = 0;
  double percent = 0;
};

// Sends the planned command once the progress reaches its percentage. A
// pause (-4) is lifted after three of the job's pause polls, through the
// control's sleep, so the command never waits for real.
void arm_stop(const StopPlan& plan, JobControl* control) {
  if (plan.code == 0) return;
  auto sent = std::make_shared<bool>(false);
  control->set_progress_callback([control, plan, sent](double percent) {
    if (*sent || percent < plan.percent || percent >= 100.0) return;
    *sent = true;
    control->set_command_word(plan.code);
  });
  auto polls = std::make_shared<int>(0);
  control->set_sleep([control, polls](int) {
    if (++*polls == 3) control->resume();
  });
}

int run_save(int argc, char** argv) {
  if (argc < 5) return dev_bad_count("save", argc);
  const std::vector<std::string> inputs = split(argv[1], ',');
  const std::string out = argv[2];
  std::vector<SaveRange> ranges;
  std::string kind_text;
  bool gop_only = false, no_audio = false, mix_audio = false;
  bool restructure = false, copy_only = false, vbr = false, film = false;
  long long scene = 1;
  std::vector<double> gain;
  int aspect = 0, field_order = 0;
  long long gop_n = 0, gop_m = 0, bit_rate = 0, ref = 0;
  StopPlan stop;
  bool have_keep = false;
  for (int i = 3; i < argc; ++i) {
    const std::string o = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    if (o == "--gop-only") {
      gop_only = true;
    } else if (o == "--restructure") {
      restructure = true;
    } else if (o == "--copy-only") {
      copy_only = true;
    } else if (o == "--vbr") {
      vbr = true;
    } else if (o == "--film") {
      film = true;
    } else if (o == "--scene") {
      const char* v = value("scene");
      if (!v || !dev_parse_int(v, &scene) || scene < 0 || scene > 2) return dev_usage("save", "--scene wants 0, 1 or 2");
    } else if (o == "--no-audio") {
      no_audio = true;
    } else if (o == "--mix-audio") {
      mix_audio = true;
    } else if (o == "--gain") {
      // TIME:GAIN[,TIME:GAIN...]: the volume envelope of the audio.
      const char* v = value("gain");
      if (!v) return dev_usage("save", "--gain needs points");
      for (const std::string& t : split(v, ',')) {
        char* end = nullptr;
        const double at = std::strtod(t.c_str(), &end);
        const bool colon = end && *end == ':' && end != t.c_str();
        const double g = colon ? std::strtod(end + 1, &end) : -1;
        if (!colon || at < 0 || g < 0 || *end) return dev_usage("save", "bad gain point '%s'", t.c_str());
        gain.push_back(at);
        gain.push_back(g);
      }
    } else if (o == "--keep") {
      const char* v = value("keep");
      if (!v) return dev_usage("save", "--keep needs ranges");
      for (const std::string& t : split(v, ',')) {
        SaveRange r;
        if (!parse_range(t, &r)) return dev_usage("save", "bad range '%s'", t.c_str());
        if (r.file >= int(inputs.size())) return dev_usage("save", "range '%s' names no input", t.c_str());
        ranges.push_back(r);
      }
      have_keep = true;
    } else if (o == "--kind") {
      const char* v = value("kind");
      if (!v) return dev_usage("save", "--kind needs a kind");
      kind_text = v;
    } else if (o == "--aspect" || o == "--field-order") {
      const char* v = value(o.c_str());
      long long n = 0;
      if (!v || !dev_parse_int(v, &n)) return dev_usage("save", "%s needs a number", o.c_str());
      if (o == "--aspect") {
        if (n < 1 || n > 14) return dev_usage("save", "aspect code %lld outside 1..14", n);
        aspect = int(n);
      } else {
        if (n < 0 || n > 2) return dev_usage("save", "field order %lld outside 0..2", n);
        field_order = int(n);
      }
    } else if (o == "--ref") {
      // The kept range whose stream the output takes (frame rate, size).
      const char* v = value("ref");
      if (!v || !dev_parse_int(v, &ref) || ref < 0) return dev_usage("save", "--ref needs a range index");
    } else if (o == "--gop" || o == "--sub-gop" || o == "--bit-rate") {
      const char* v = value(o.c_str());
      long long n = 0;
      if (!v || !dev_parse_int(v, &n)) return dev_usage("save", "%s needs a number", o.c_str());
      if (o == "--gop") {
        if (n < 1 || n > 60) return dev_usage("save", "GOP size %lld outside 1..60", n);
        gop_n = n;
      } else if (o == "--sub-gop") {
        if (n < 1 || n > 8) return dev_usage("save", "sub-GOP size %lld outside 1..8", n);
        gop_m = n;
      } else {
        if (n < 1000 || n > 100000000) return dev_usage("save", "bit rate %lld outside 1000..100000000", n);
        bit_rate = n;
      }
    } else if (o == "--stop") {
      const char* v = value("stop");
      long long code = 0, pct = 0;
      const std::string t = v ? v : "";
      const size_t at = t.find('@');
      if (at == std::string::npos || !dev_parse_int(t.substr(0, at).c_str(), &code) ||
          !dev_parse_int(t.substr(at + 1).c_str(), &pct) || code >= 0)
        return dev_usage("save", "--stop wants CODE@PERCENT with a negative code");
      stop.code = int(code);
      stop.percent = double(pct);
    } else {
      return dev_usage("save", "unknown option '%s'", o.c_str());
    }
  }
  if (!have_keep) return dev_usage("save", "--keep is required");

  std::vector<DevInput> info(inputs.size());
  std::vector<std::unique_ptr<GOPList>> lists;
  for (size_t k = 0; k < inputs.size(); ++k) {
    if (dev_input_of(inputs[k].c_str(), {InputKind::video, InputKind::program, InputKind::transport},
                     "a video elementary, program or transport stream", false, &info[k]))
      return 1;
    auto l = std::make_unique<GOPList>();
    if (GoplistCache::take_from_cache(l.get(), inputs[k].c_str(), 0, 0) != 0)
      return dev_fail("<%s>: cannot index", inputs[k].c_str());
    lists.push_back(std::move(l));
  }
  OutputKind kind = OutputKind::es;
  if (!kind_text.empty()) {
    const auto named = output_kind_named(kind_text);
    if (!named) return dev_usage("save", "unknown kind '%s'", kind_text.c_str());
    kind = *named;
  } else {
    const DevInput& f = info[0];
    const int code = f.kind == InputKind::transport ? MUX_TRANSPORT
                     : f.kind == InputKind::program ? (f.stream_type == 4 || f.stream_type == 5 ? f.stream_type : 6)
                                                    : MUX_MPEG2_VIDEO_ES;
    kind = output_kind_of_code(code, false, false).value_or(OutputKind::es);
  }

  if (ref >= int64_t(ranges.size())) return dev_usage("save", "--ref %lld names no range", ref);
  for (SaveRange& r : ranges) {
    const int total = lists[size_t(r.file)]->get_total_frames();
    if (r.first >= total) return dev_check_range("frame", r.first, total);
    if (r.last >= total) r.last = total - 1;
  }
  lists.clear();

  MPEG_Clip* head = nullptr;
  MPEG_Clip* tail = nullptr;
  for (const SaveRange& r : ranges) {
    MPEG_Clip* c = mpeg_clip_of_file(inputs[size_t(r.file)].c_str(), int(r.first), int(r.last - r.first + 1));
    if (!c) {
      mpeg_clip_list_free(head);
      return dev_fail("<%s>: cannot open as a clip", inputs[size_t(r.file)].c_str());
    }
    clip_list_link(&head, &tail, c);
  }

  SaveRequest request;
  request.kind = kind;
  request.output = out;
  request.clips = head;
  request.gop_only = gop_only;
  for (const SaveRange& r : ranges) request.sources.push_back(r.file);
  request.copy_only = copy_only;
  RecordData& data = request.options;
  data.set_aspect_ratio(aspect);
  data.set_field_order(field_order);
  data.gop_size = int(gop_n);
  // The reference range gives the output's stream; a transport output keeps
  // its tables.
  data.ref_clip = int(ref);
  if (gop_m > 0) data.sub_gop_size = int(gop_m);
  // A multiple of 400 bit/s, as the sequence header holds it.
  if (bit_rate > 0) data.video.bit_rate = int((bit_rate + 399) / 400 * 400);
  data.restructure = restructure ? 1 : 0;
  data.video.vbr = vbr ? 1 : 0;
  data.scene_change = int(scene);
  data.film_output = film ? 1 : 0;
  if (!no_audio && save_request_take_audio(&request)) {
    data.pcm_scale = gain;
    data.mix_audio = mix_audio ? 1 : 0;
  }
  JobControl control;
  arm_stop(stop, &control);
  request.control = &control;
  SaveRun run;
  save_run(request, &run);
  mpeg_clip_list_free(head);
  const SaveReport& rep = run.report;

  for (const SaveRange& r : run.ranges)
    std::printf("range file=%d from=%lld to=%lld\n", ranges[size_t(r.file)].file, (long long)r.first,
                (long long)r.last);
  for (const SaveJoin& j : rep.joins) std::printf("cut at=%d reencoded=%d\n", j.at, j.reencoded);
  for (const SaveAudioReport& a : rep.audio)
    std::printf("audio id=0x%02X pid=%d kind=%d frames=%lld copied=%lld encoded=%lld\n", a.stream_id, a.pid, a.kind,
                (long long)a.frames, (long long)a.copied, (long long)a.encoded);
  const char* st = rep.failed ? "failed" : rep.stopped ? "stopped" : "done";
  std::printf("save kind=%d frames=%d fields=%d gops=%d copied=%d reencoded=%d decoded=%d bytes=%.0f result=%d "
              "warnings=%d status=%s\n",
              rep.kind, rep.frames, rep.fields, rep.gops, rep.copied, rep.reencoded, rep.decoded, rep.bytes,
              int(rep.result), rep.warnings, st);
  if (rep.failed) return dev_fail("<%s>: %s", out.c_str(), rep.message.c_str());
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(save, "IN[,IN...] OUT --keep [F@]A:B[,...] [--kind es|mpeg1|vcd|ps|svcd|dvd|ts] [--gop-only] "
                         "[--no-audio] [--mix-audio] [--gain T:G[,...]] [--aspect N] [--field-order 0|1|2] [--gop N] [--sub-gop M] "
                         "[--bit-rate N] [--vbr] [--restructure] [--copy-only] [--scene 0|1|2] [--film] [--ref R] "
                         "[--stop CODE@PERCENT]",
                   "saves the kept frame ranges of the inputs as one movie: GOPs copied byte for byte, frames "
                   "around cuts re-encoded, with the first input's audio",
                   run_save);
