// gop-trim IN START COUNT OUT [--stop-at BYTES delete|keep]: saves frames
// START .. START+COUNT-1 as the whole GOPs that hold them, copying bytes;
// prints
//   trim start_offset=N end_offset=N bytes=N status=done|stopped|failed
// also on failure.
#include <cstdio>
#include <string>

#include "devtool/command.h"
#include "engine/gop_trim.h"

namespace {

struct StopAt {
  TrimStatus* status;
  long long bytes;
  int command;
};

void stop_when_written(intptr_t user, int code) {
  auto* s = reinterpret_cast<StopAt*>(user);
  if (code == kTrimProgress && s->status->bytes.load() >= s->bytes) s->status->command = s->command;
}

int run_gop_trim(int argc, char** argv) {
  if (argc != 5 && argc != 8) return dev_bad_count("gop-trim", argc);
  long long start = 0, count = 0;
  if (!dev_parse_int(argv[2], &start) || !dev_parse_int(argv[3], &count))
    return dev_usage("gop-trim", "START and COUNT must be numbers");
  TrimStatus status;
  StopAt stop{&status, 0, 0};
  if (argc == 8) {
    const std::string opt = argv[5], what = argv[7];
    if (opt != "--stop-at") return dev_usage("gop-trim", "unknown option '%s'", argv[5]);
    if (!dev_parse_int(argv[6], &stop.bytes) || stop.bytes < 0)
      return dev_usage("gop-trim", "BYTES must be a number");
    if (what != "delete" && what != "keep") return dev_usage("gop-trim", "delete or keep, not '%s'", argv[7]);
    stop.command = what == "delete" ? kTrimStopDelete : kTrimStopKeep;
    status.callback = stop_when_written;
    status.user = reinterpret_cast<intptr_t>(&stop);
  }
  const int64_t bytes = trim_packet(argv[1], argv[4], int(start), int(count), &status);
  static const char* const names[] = {"done", "stopped", "failed"};
  std::printf("trim start_offset=%lld end_offset=%lld bytes=%lld status=%s\n", (long long)status.start_offset,
              (long long)status.end_offset, (long long)bytes, names[int(status.result)]);
  return status.result == TrimResult::failed ? 1 : 0;
}

}  // namespace

// The command's name has a hyphen, which the registration macro cannot spell.
static const bool dev_reg_gop_trim = dev_register(
    DevCommand{"gop-trim", "IN START COUNT OUT [--stop-at BYTES delete|keep]",
               "saves a frame range as the whole GOPs that hold it, copying bytes", run_gop_trim});
