// The encoder's rate-control state, shared by rate control and the
// activity pass; cleared and copied as a whole.
#pragma once

#include <cstdint>

struct RateControlRecord {
  int32_t Xi = 0, Xp = 0, Xb = 0;  // complexity of the last I, P, B picture
  int32_t r = 0;                   // reaction parameter
  int32_t d0i = 0, d0p = 0, d0b = 0;
  int32_t d = 0;
  int32_t R = 0;  // bits left in the GOP
  int32_t T = 0;  // target of the current picture
  double avg_act = 0;
  int32_t Np = 0, Nb = 0;
  int32_t S = 0;
  int32_t Q = 0;
  int32_t prev_mquant = 0;
  double bits_total = 0;
  double target_per_mb = 0;
  int32_t gop_pictures = 0, gop_bits = 0;
  int32_t pictures = 0;
  double next_ip_delay = 0, decoding_time = 0;
  int32_t stuffing_credit = 0, stuffing_total = 0;

  void clear() { *this = RateControlRecord{}; }
  RateControlRecord& assign(const RateControlRecord& other) {
    if (&other != this) *this = other;
    return *this;
  }
};
