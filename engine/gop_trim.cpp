#include "engine/gop_trim.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "demux/demuxer.h"
#include "demux/goplist.h"
#include "foundation/bsfile.h"
#include "foundation/gop.h"
#include "foundation/trace.h"

namespace {

constexpr int kCopyBuffer = 1 << 20;
// File-to-file copies go in steps of the buffer's size too: progress
// reports and stop checks come as often.
constexpr int64_t kDirectChunk = kCopyBuffer;

bool same_file(const char* a, const char* b) {
  struct stat sa {}, sb {};
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The GOP of the index holding frame; false when none does.
bool gop_of(GOPList& list, int frame, GOP* g) {
  // A search reads only around the frame: the first and last GOPs are
  // known without any read.
  list.get_gop(frame, g, 0, 0);
  if (g->pic_count > 0 && g->first_frame() <= frame && frame < g->end_frame()) return true;
  for (int n = list.get_first_gop(g, 0); n > 0; n = list.next_gop(g, 0))
    if (g->first_frame() <= frame && frame < g->end_frame()) return true;
  return false;
}

}  // namespace

int64_t trim_packet(const char* in, const char* out, int start, int count, JobControl* control, TrimReport* report) {
  JobControl own_control;
  JobControl& ctl = control ? *control : own_control;
  TrimReport own_report;
  TrimReport& rep = report ? *report : own_report;
  rep.bytes = 0;
  int64_t written = 0;
  bool created = false;
  JobOutcome result = JobOutcome::failed;
  std::string why;
  auto finish = [&](int64_t r) {
    if (created && (result == JobOutcome::failed || (result == JobOutcome::stopped && !ctl.keep_output())))
      std::remove(out);
    ctl.set_progress(100.0);
    ctl.finish(result, r, why);
    return r;
  };
  auto write_failed = [&] {
    why = std::string("cannot write <") + out + ">";
    trace("ERROR (trim_packet): %s\n", why.c_str());
  };

  if (!in || !out || start < 0 || count < 1) {
    trace("ERROR (trim_packet): invalid frame numbers\n");
    trace("      offset = %d, frames = %d\n", start, count);
    why = "invalid frame numbers";
    return finish(0);
  }
  GOPList list(in);
  if (!list.is_open() || list.build_index()) {
    trace("ERROR (trim_packet): GOPList::ctor (%s) failed\n", in);
    why = std::string("<") + in + ">: no GOPs to trim";
    return finish(0);
  }
  const int total = list.get_total_frames();
  if (start >= total) {
    trace("ERROR (trim_packet): start = %d > %d = total\n", start, total);
    why = "the range starts after the last frame";
    return finish(0);
  }
  if (count > total - start) count = total - start;
  GOP first, last;
  if (!gop_of(list, start, &first) || !gop_of(list, start + count - 1, &last)) {
    trace("ERROR (trim_packet): GOPList::goto_gop (%d)\n", start);
    return finish(0);
  }
  // Frame 0 takes everything before the first GOP too.
  const FileOffset begin = start == 0 ? FileOffset() : first.start;
  const FileOffset end = last.end;
  rep.start_offset = int64_t(begin.value());
  rep.end_offset = int64_t(end.value());
  if (!end.greater(begin)) {
    trace("ERROR (trim_packet): empty range %lld - %lld\n", (long long)begin.value(), (long long)end.value());
    return finish(0);
  }
  if (same_file(in, out)) {
    trace("ERROR (trim_packet): <%s> is the input\n", out);
    why = std::string("<") + out + "> is the input";
    return finish(0);
  }
  DeMuxer* dmx = list.get_demuxer();
  if (!dmx) return finish(0);
  int err = 0;
  BSFile file(out, 2, &err);
  if (err) {
    trace("ERROR (trim_packet): cannot open <%s> for writing\n", out);
    why = std::string("cannot open <") + out + "> for writing";
    return finish(0);
  }
  created = true;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kCopyBuffer]);
  const double factor = 100.0 / double(end.value() - begin.value());
  double reported = 0;
  dmx->goto_offset(begin);
  if (start > 0) {
    const int n = dmx->trim_start(&file, buf.get(), kCopyBuffer, end);
    if (n < 0) {
      write_failed();
      file.close();
      return finish(written);
    }
    written += n;
    rep.bytes = written;
  }
  result = JobOutcome::done;
  const bool direct = dmx->is_elementary();
  for (;;) {
    if (ctl.checkpoint()) {
      result = JobOutcome::stopped;
      break;
    }
    int64_t n;
    if (direct) {
      // An elementary stream's untouched rest goes file to file.
      n = dmx->copy_bytes_to(&file, kDirectChunk, end);
      if (n < 0) {
        write_failed();
        result = JobOutcome::failed;
        break;
      }
    } else {
      n = dmx->copy_bytes(buf.get(), kCopyBuffer, end);
    }
    if (n < 0) {
      result = JobOutcome::failed;
      break;
    }
    if (n == 0) break;
    if (!direct && file.write(buf.get(), size_t(n)) != size_t(n)) {
      write_failed();
      result = JobOutcome::failed;
      break;
    }
    written += n;
    rep.bytes = written;
    const double p = double(written) * factor;
    if (p - reported >= 0.1) {
      reported = p;
      ctl.set_progress(p < 99.99 ? p : 99.99);
    }
  }
  // In a program stream the last picture's tail shares a packet with the
  // next GOP's header, after the range's end: append that packet with the
  // next GOP blanked.
  const int type = dmx->get_stream_type();
  if (result == JobOutcome::done && type >= 4 && type <= 7) {
    const int n = dmx->trim_end(buf.get(), kCopyBuffer, &file);
    if (n < 0) {
      write_failed();
      result = JobOutcome::failed;
    } else {
      written += n;
      rep.bytes = written;
    }
  }
  if (result == JobOutcome::done && written == 0) result = JobOutcome::failed;
  file.close();
  return finish(written);
}
