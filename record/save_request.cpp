#include "record/save_request.h"

#include <map>

#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "engine/clips/clip_streams.h"
#include "mux/es.h"

OutputProfile output_profile(OutputKind kind) {
  switch (kind) {
    case OutputKind::es: return {MUX_MPEG2_VIDEO_ES, false, false, false};
    case OutputKind::mpeg1: return {MUX_MPEG1_SYSTEM, false, false, true};
    // A Video CD keeps its constant rate.
    case OutputKind::vcd: return {MUX_VCD, false, false, false};
    case OutputKind::ps: return {MUX_MPEG2_PROGRAM, false, false, true};
    case OutputKind::svcd: return {MUX_MPEG2_PROGRAM, false, true, true};
    case OutputKind::dvd: return {MUX_MPEG2_PROGRAM, true, false, true};
    case OutputKind::ts: return {MUX_TRANSPORT, false, false, false};
  }
  return {};
}

namespace {

constexpr std::pair<OutputKind, const char*> kNames[] = {
    {OutputKind::es, "es"},     {OutputKind::mpeg1, "mpeg1"}, {OutputKind::vcd, "vcd"}, {OutputKind::ps, "ps"},
    {OutputKind::svcd, "svcd"}, {OutputKind::dvd, "dvd"},     {OutputKind::ts, "ts"},
};

}  // namespace

std::optional<OutputKind> output_kind_named(std::string_view name) {
  for (const auto& [kind, text] : kNames)
    if (name == text) return kind;
  return std::nullopt;
}

const char* output_kind_name(OutputKind kind) {
  for (const auto& [k, text] : kNames)
    if (k == kind) return text;
  return "";
}

std::optional<OutputKind> output_kind_of_code(int code, bool svcd, bool dvd) {
  switch (code) {
    case MUX_MPEG1_VIDEO_ES:
    case MUX_MPEG2_VIDEO_ES: return OutputKind::es;
    case MUX_MPEG1_SYSTEM: return OutputKind::mpeg1;
    case MUX_VCD: return OutputKind::vcd;
    case MUX_MPEG2_PROGRAM: return svcd ? OutputKind::svcd : dvd ? OutputKind::dvd : OutputKind::ps;
    case MUX_SVCD: return OutputKind::svcd;
    case MUX_TRANSPORT: return OutputKind::ts;
    default: return std::nullopt;
  }
}

void save_widen_range(GOPList* list, SaveRange* r) {
  GOP g;
  if (!list || list->get_gop(int(r->first), &g, 0, 0) < 0 || g.pic_count <= 0) return;
  for (int guard = 0; guard < 2; ++guard) {
    int best = -1;
    for (int i = 0; i < g.pic_count; ++i) {
      if (g.get_pic_type(i) != 1) continue;
      const int f = g.first_frame() + g.get_pic_display_frame(i);
      if (f <= r->first && f > best) best = f;
    }
    if (best >= 0) {
      r->first = best;
      break;
    }
    if (list->prev_gop(&g, 0) <= 0) break;
  }
  if (list->get_gop(int(r->last), &g, 0, 0) >= 0 && g.pic_count > 0) r->last = g.end_frame() - 1;
}

namespace {

bool same_file(const MPEG_Clip& a, const MPEG_Clip& b) {
  const char* x = a.get_file_name();
  const char* y = b.get_file_name();
  return x && y && std::string_view(x) == y;
}

// Whether clip b (at position j) may join clip a's run (begun at i).
bool joinable(const MPEG_Clip& a, const MPEG_Clip& b, int i, int j, const std::vector<int>& sources) {
  if (sources.empty()) return same_file(a, b);
  return size_t(i) < sources.size() && size_t(j) < sources.size() && sources[size_t(i)] == sources[size_t(j)];
}

// Every clip widened to whole GOPs; a clip that starts inside or right
// after the one before it in the same file joins it. One range per clip
// left, named by the position of its first clip.
std::vector<SaveRange> widen_clips(MPEG_Clip* list, const std::vector<int>& sources) {
  std::map<std::string, std::unique_ptr<GOPList>> lists;
  std::vector<SaveRange> runs;
  int position = 0;
  for (MPEG_Clip* c = list; c;) {
    MPEG_Clip* next = c->next;
    SaveRange r{position++, c->start, int64_t(c->start) + c->count - 1};
    const char* file = c->get_file_name();
    if (file && c->count > 0) {
      auto& gl = lists[file];
      if (!gl) {
        gl = std::make_unique<GOPList>();
        if (GoplistCache::take_from_cache(gl.get(), file, 0, 0) != 0) gl.reset();
      }
      if (gl) save_widen_range(gl.get(), &r);
    }
    MPEG_Clip* p = c->prev;
    if (p && !runs.empty() && joinable(*p, *c, runs.back().file, r.file, sources)) {
      SaveRange& last = runs.back();
      if (r.first <= last.last + 1 && r.last >= last.first && r.first >= last.first) {
        if (r.last > last.last) last.last = r.last;
        p->set_range(int(last.first), int(last.last));
        p->next = next;
        if (next) next->prev = p;
        delete c;
        c = next;
        continue;
      }
    }
    c->set_range(int(r.first), int(r.last));
    runs.push_back(r);
    c = next;
  }
  return runs;
}

}  // namespace

bool save_request_take_audio(SaveRequest* request) {
  if (!request || !request->clips) return false;
  ESData a;
  if (!mpeg_clip_get_audio_es_data(const_cast<MPEG_Clip*>(request->clips), &a)) return false;
  RecordData& d = request->options;
  d.n_es = 2;
  d.audio = a;
  d.audio_copy = a.ac3 ? 0 : -1;
  d.check_audio_params();
  return true;
}

int save_run(SaveRequest& request, SaveRun* run) {
  const OutputProfile profile = output_profile(request.kind);
  RecordData data = request.options;
  data.kind = profile.mux_type;
  data.name = request.output;
  data.svcd = profile.svcd ? 1 : 0;
  data.dvd = profile.nav_packs ? 1 : 0;
  SaveRun own;
  SaveRun& out = run ? *run : own;
  RecordJob job(request.clips, data, request.control);
  job.report = &out.report;
  job.copy_only = request.copy_only ? 1 : 0;
  job.whole_gops = request.gop_only ? 1 : 0;
  job.frames = std::move(request.frames);
  if (request.gop_only) {
    out.ranges = widen_clips(job.clips, request.sources);
  } else {
    int position = 0;
    for (const MPEG_Clip* c = job.clips; c; c = c->next)
      out.ranges.push_back({position++, c->start, int64_t(c->start) + c->count - 1});
  }
  // Joined clips can leave the reference past the list: refused before
  // anything is written.
  if (data.ref_clip > 0 && data.ref_clip >= int(out.ranges.size())) {
    JobControl own_control;
    JobControl& ctl = request.control ? *request.control : own_control;
    out.report.failed = 1;
    out.report.result = kSaveFailed;
    out.report.message = "the reference range names no clip";
    ctl.set_progress(100.0);
    ctl.finish(JobOutcome::failed, kSaveFailed, out.report.message);
    return 1;
  }
  return prepare_recording(job);
}
