#include "app/audio/time_record.h"

#include <cstdio>

namespace {

void carry(int* h, int* m, int* s) {
  if (*s >= 60) {
    *s -= 60;
    ++*m;
  }
  if (*m >= 60) {
    *m -= 60;
    ++*h;
  }
  *h %= 24;
}

}  // namespace

TimeRecord TimeRecord::from_seconds(double t) {
  if (t < 0) t = 0;
  TimeRecord r;
  long long whole = (long long)t;
  r.frames = int((t - double(whole)) * kRate + 0.5);
  if (r.frames >= int(kRate + 0.5)) {
    r.frames = 0;
    ++whole;
  }
  r.seconds = int(whole % 60);
  r.minutes = int(whole / 60 % 60);
  r.hours = int(whole / 3600 % 24);
  return r;
}

double TimeRecord::to_seconds() const { return double((hours * 60 + minutes) * 60 + seconds) + frames / kRate; }

std::string TimeRecord::text() const {
  int h = hours, m = minutes, s = seconds + (frames >= 15 ? 1 : 0);
  carry(&h, &m, &s);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", h, m, s);
  return buf;
}
