#include "devtool/stop_option.h"

#include <cstdlib>

namespace {

void stop_when_reached(double percent, void* user) {
  auto* s = static_cast<DevStopAt*>(user);
  if (percent >= s->percent && percent < 100.0) s->status->command.store(s->code);
}

}  // namespace

bool dev_parse_stop(const char* t, DevStopAt* stop) {
  char* end = nullptr;
  const long code = std::strtol(t, &end, 10);
  if (end == t || *end != '@') return false;
  const char* q = end + 1;
  const double pc = std::strtod(q, &end);
  if (end == q || *end || pc < 0 || pc > 100) return false;
  stop->code = int(code);
  stop->percent = pc;
  return true;
}

void dev_arm_stop(DevStopAt* stop, DemuxJobStatus* status) {
  stop->status = status;
  status->progress_callback = stop_when_reached;
  status->user = stop;
}
