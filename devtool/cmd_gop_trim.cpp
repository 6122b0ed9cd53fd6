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

int run_gop_trim(int argc, char** argv) {
  if (argc != 5 && argc != 8) return dev_bad_count("gop-trim", argc);
  long long start = 0, count = 0;
  if (!dev_parse_int(argv[2], &start) || !dev_parse_int(argv[3], &count))
    return dev_usage("gop-trim", "START and COUNT must be numbers");
  JobControl control;
  TrimReport report;
  if (argc == 8) {
    const std::string opt = argv[5], what = argv[7];
    long long bytes = 0;
    if (opt != "--stop-at") return dev_usage("gop-trim", "unknown option '%s'", argv[5]);
    if (!dev_parse_int(argv[6], &bytes) || bytes < 0) return dev_usage("gop-trim", "BYTES must be a number");
    if (what != "delete" && what != "keep") return dev_usage("gop-trim", "delete or keep, not '%s'", argv[7]);
    const bool keep = what == "keep";
    control.set_progress_callback([&control, &report, bytes, keep](double percent) {
      if (percent < 100.0 && report.bytes.load() >= bytes) control.stop(keep);
    });
  }
  const int64_t written = trim_packet(argv[1], argv[4], int(start), int(count), &control, &report);
  const JobOutcome outcome = control.outcome();
  const char* status = outcome == JobOutcome::done ? "done" : outcome == JobOutcome::stopped ? "stopped" : "failed";
  std::printf("trim start_offset=%lld end_offset=%lld bytes=%lld status=%s\n", (long long)report.start_offset,
              (long long)report.end_offset, (long long)written, status);
  return outcome == JobOutcome::failed ? 1 : 0;
}

}  // namespace

// The command's name has a hyphen, which the registration macro cannot spell.
static const bool dev_reg_gop_trim = dev_register(
    DevCommand{"gop-trim", "IN START COUNT OUT [--stop-at BYTES delete|keep]",
               "saves a frame range as the whole GOPs that hold it, copying bytes", run_gop_trim});
