#include "devtool/stop_option.h"

#include <cstdlib>

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

void dev_arm_stop(const DevStopAt& stop, JobControl* control) {
  control->set_progress_callback([control, stop](double percent) {
    if (percent >= stop.percent && percent < 100.0) control->set_command_word(stop.code);
  });
}
