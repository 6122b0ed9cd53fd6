// "--stop CODE@PERCENT" of the long jobs: CODE goes into the job's command
// word once its progress reaches PERCENT.
#pragma once

#include "foundation/job_control.h"

struct DevStopAt {
  int code = 0;
  double percent = 0.0;
};

// Reads CODE@PERCENT (PERCENT in 0..100); false when the text does not fit.
bool dev_parse_stop(const char* text, DevStopAt* stop);
// Hooks the stop to the job's progress callback: CODE is written as the
// control's command word.
void dev_arm_stop(const DevStopAt& stop, JobControl* control);
