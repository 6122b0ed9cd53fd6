// demux FILE OUTDIR [--only ID[:PID]]... [--stop CODE@PERCENT]: splits a
// system stream into elementary files in OUTDIR, one per stream, named by
// PID (256.m2v, 257.mp2, 258.ac3), in program streams by stream key
// (e0.m2v, c0.mp2, 80.ac3, a0.wav). One line per output:
//   out id=0xNN pid=N kind=N file=NAME bytes=N align=N
// preceded by one line per stream of the file with its expected size:
//   estimate id=0xNN pid=N kind=N bytes=N
// (align: audio frames dropped at the start when positive, silent frames
// written in front when negative; the job leaves it in each record's audio
// offset), then
//   demux bytes=N status=done|stopped|failed
// --stop writes CODE into the job's command word once the progress reaches
// PERCENT (-1 stops and deletes the outputs, other values stop and keep them).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "demux/demuxer_cache.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stop_option.h"
#include "devtool/stream_key.h"
#include "mux/demux_job.h"

namespace {

const char* extension_of(const ESData& r) {
  switch (r.kind) {
    case ES_KIND_MPEG1_VIDEO:
      return "m1v";
    case ES_KIND_MPEG2_VIDEO:
      return "m2v";
    case ES_KIND_AC3:
      return "ac3";
    case ES_KIND_LPCM:
      return "wav";
    default:
      return r.layer == 3 ? "mp3" : "mp2";
  }
}

long long file_bytes(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0 ? (long long)st.st_size : 0;
}

}  // namespace

static int run_demux(int argc, char** argv) {
  std::vector<const char*> paths;
  struct Only {
    int id, pid;
  };
  std::vector<Only> only;
  bool stop = false;
  DevStopAt stop_at;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--only") == 0) {
      if (i + 1 >= argc) return dev_usage("demux", "--only needs ID[:PID]");
      Only o{};
      if (!dev_parse_stream_key(argv[i + 1], &o.id, &o.pid))
        return dev_usage("demux", "'%s' is not ID[:PID]", argv[i + 1]);
      only.push_back(o);
      ++i;
    } else if (std::strcmp(argv[i], "--stop") == 0) {
      if (i + 1 >= argc) return dev_usage("demux", "--stop needs CODE@PERCENT");
      if (!dev_parse_stop(argv[i + 1], &stop_at))
        return dev_usage("demux", "'%s' is not CODE@PERCENT", argv[i + 1]);
      stop = true;
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1]) {
      return dev_usage("demux", "unknown option '%s'", argv[i]);
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != 2) return dev_bad_count("demux", argc);
  const char* path = paths[0];
  const std::string dir = paths[1];
  DevInput in;
  if (dev_input_of(path, {InputKind::transport, InputKind::program}, "a program or transport stream", true, &in))
    return 1;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return dev_fail("<%s>: not a folder", dir.c_str());
  auto made = MPEG_Demuxer::create(path);
  if (!made) return dev_fail("<%s>: cannot read %s", path, dev_kind_text(in));
  MPEG_Demuxer& job = *made;
  std::vector<int> ids(256), kinds(256), pids(256);
  std::vector<double> sizes(256);
  const int listed = job.get_es_list(ids.data(), kinds.data(), pids.data(), 256);
  job.get_es_sizes(sizes.data(), listed);
  for (int i = 0; i < listed; ++i)
    std::printf("estimate id=0x%02X pid=%d kind=%d bytes=%.0f\n", ids[size_t(i)], pids[size_t(i)], kinds[size_t(i)],
                sizes[size_t(i)]);

  int count = 0;
  ESData* es = job.demuxer()->get_es_data(&count);
  std::vector<uint32_t> selections;
  std::vector<std::string> names;
  std::vector<ESData> records;
  for (int i = 0; i < count; ++i) {
    const ESData& r = es[i];
    bool wanted = only.empty();
    for (const Only& o : only)
      if ((o.id == r.stream_id || (o.id == 0xBD && r.get_ac3_header())) && (o.pid == 0 || o.pid == r.pid)) wanted = true;
    if (!wanted) continue;
    char name[64];
    if (r.pid)
      std::snprintf(name, sizeof name, "%d.%s", r.pid, extension_of(r));
    else
      std::snprintf(name, sizeof name, "%02x.%s", r.stream_id, extension_of(r));  // by key: e0.m2v, 80.ac3
    selections.push_back(uint32_t(r.stream_id) | (uint32_t(r.pid) << 16));
    names.push_back(dir + "/" + name);
  }
  if (selections.empty()) return dev_fail("<%s>: no stream to demultiplex", path);
  std::vector<const char*> name_list;
  for (const std::string& n : names) name_list.push_back(n.c_str());

  JobControl control;
  DemuxReport report;
  if (stop) dev_arm_stop(stop_at, &control);
  const double done =
      job.save_es_data(int(selections.size()), selections.data(), name_list.data(), &control, &records, &report);
  const bool failed = done < 0;
  for (const ESData& r : records) {
    const std::string name = r.get_name();
    const std::string base = name.substr(name.rfind('/') + 1);
    std::printf("out id=0x%02X pid=%d kind=%d file=%s bytes=%lld align=%lld\n", r.stream_id, r.pid, r.kind,
                base.c_str(), file_bytes(name), (long long)r.audio_offset);
  }
  const char* outcome = failed ? "failed" : control.outcome() == JobOutcome::stopped ? "stopped" : "done";
  std::printf("demux bytes=%.0f status=%s\n", done < 0 ? 0.0 : done, outcome);
  if (report.skipped_pes > 0)
    std::fprintf(stderr, "tamsel-dev demux: %d damaged PES starts skipped\n", report.skipped_pes);
  if (failed)
    return dev_fail("<%s>: cannot write", report.failed_output.empty() ? dir.c_str() : report.failed_output.c_str());
  return 0;
}

TAMSEL_DEV_COMMAND(demux, "FILE OUTDIR [--only ID[:PID]]... [--stop CODE@PERCENT]",
                   "splits a program or transport stream into elementary files named by PID", run_demux);
