// The audio window's time display: hours, minutes, seconds and frames at
// 29.97 frames a second.
#pragma once

#include <string>

struct TimeRecord {
  static constexpr double kRate = 30000.0 / 1001.0;
  int hours = 0, minutes = 0, seconds = 0, frames = 0;

  static TimeRecord from_seconds(double t);
  double to_seconds() const;
  // "%d:%02d:%02d"; 15 frames or more round the seconds up.
  std::string text() const;
  bool operator==(const TimeRecord&) const = default;
};
