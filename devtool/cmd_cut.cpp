// cut FILE FIRST LAST OUT [--stream ID[:PID]]: copies GOPs FIRST..LAST as a
// save copies an untouched stretch: the start written by trim_start (leading
// B pictures blanked), the bytes up to the end of GOP LAST by copy_bytes,
// then trim_end.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "demux/goplist.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_option.h"
#include "foundation/bsfile.h"

namespace {

constexpr int kCopyBuffer = 1 << 20;

int run_cut(int argc, char** argv) {
  if (argc != 5 && argc != 7) return dev_bad_count("cut", argc);
  int id = 0, pid = 0;
  if (argc == 7) {
    if (std::string(argv[5]) != "--stream") return dev_usage("cut", "unknown option '%s'", argv[5]);
    if (!dev_parse_stream(argv[6], &id, &pid)) return dev_usage("cut", "bad stream '%s'", argv[6]);
  }
  long long first = 0, last = 0;
  if (!dev_parse_int(argv[2], &first) || !dev_parse_int(argv[3], &last))
    return dev_usage("cut", "FIRST and LAST must be numbers");
  if (first < 0) return dev_fail("GOP %lld: GOPs count from 0", first);
  if (last >= 0 && last < first) return dev_usage("cut", "LAST %lld before FIRST %lld", last, first);
  const char* name = argv[1];
  const char* out_name = argv[4];
  if (dev_input_of(name, {InputKind::video, InputKind::program, InputKind::transport},
                   "a video elementary, program or transport stream", false))
    return 1;
  GOPList list(name, id, pid);
  if (!list.is_open() || list.build_index()) return dev_fail("<%s>: cannot index", name);
  BSFile probe_in(name, 1);
  std::vector<std::string> inputs = {name};
  for (const auto& m : probe_in.member_names()) inputs.push_back(m);
  probe_in.close();
  if (dev_check_not_input(out_name, inputs)) return 1;

  // The GOPs as `gops` numbers them.
  GOP g;
  long long count = 0;
  FileOffset start, end;
  bool have_first = false, have_last = false;
  for (int n = list.get_first_gop(&g, 0); n > 0; n = list.next_gop(&g, 0), ++count) {
    if (count == first) {
      start = g.start;
      have_first = true;
    }
    if (count == last) {
      end = g.end;
      have_last = true;
      break;
    }
    if (last < 0 && have_first) {
      // Only the last GOP's end is wanted: take it from the index.
      if (list.get_last_gop(&g, 0) <= 0) break;
      end = g.end;
      have_last = true;
      break;
    }
  }
  if (!have_first) return dev_check_range("GOP", first, count);
  if (!have_last) return last < 0 ? dev_fail("<%s>: no last GOP", name) : dev_check_range("GOP", last, count);
  if (!end.greater(start)) return dev_fail("GOP %lld ends before GOP %lld starts", last, first);

  DeMuxer* dmx = list.get_demuxer();
  if (!dmx) return dev_fail("<%s>: no demultiplexer", name);
  int err = 0;
  BSFile out(out_name, 2, &err);
  if (err) return dev_fail("<%s>: cannot open to write", out_name);
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kCopyBuffer]);
  dmx->goto_offset(start);
  const int start_bytes = dmx->trim_start(&out, buf.get(), kCopyBuffer, end);
  if (start_bytes < 0) return dev_fail("<%s>: writing the start failed", out_name);
  unsigned long long copied = 0;
  for (;;) {
    const int n = dmx->copy_bytes(buf.get(), kCopyBuffer, end);
    if (n <= 0) break;
    if (out.write(buf.get(), size_t(n)) != size_t(n)) return dev_fail("<%s>: short write", out_name);
    copied += unsigned(n);
  }
  const int end_bytes = dmx->trim_end(buf.get(), kCopyBuffer, &out);
  if (end_bytes < 0) return dev_fail("<%s>: short write", out_name);
  std::printf("cut first=%lld last=%lld start_bytes=%d copied=%llu end_bytes=%d bytes=%llu\n", first,
              last, start_bytes, copied, end_bytes,
              (unsigned long long)(start_bytes + copied + unsigned(end_bytes)));
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(cut, "FILE FIRST LAST OUT [--stream ID[:PID]]",
                   "copies GOPs FIRST..LAST (LAST -1: the last GOP) as a save copies them, leading B pictures blanked",
                   run_cut);
