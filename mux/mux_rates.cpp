#include "mux/mux_rates.h"

#include <cmath>
#include <cstdint>

#include "foundation/trace.h"

namespace {

bool is_video(int type) { return type == 2 || type == 3; }

int64_t round_up_400(double bits) {
  const int64_t b = int64_t(std::ceil(bits));
  return (b + 399) / 400 * 400;
}

}  // namespace

int program_min_mux_rate(int kind, int n, const int* rates, const int* types) {
  if (n < 1) {
    trace("ERROR (program_min_mux_rate): n_es=%d\n", n);
    return 0;
  }
  if (!rates) {
    trace("ERROR (program_min_mux_rate): es_rate=nil\n");
    return 0;
  }
  if (!types) {
    trace("ERROR (program_min_mux_rate): es_type=nil\n");
    return 0;
  }
  if (kind == 5) {
    if (n == 2) return 1411200;
    kind = 4;
  }
  // Pack header, video and audio packet headers, video and audio payloads.
  const bool mpeg1 = kind == 4;
  const int pack = mpeg1 ? 12 : 14, vhdr = mpeg1 ? 17 : 19, ahdr = mpeg1 ? 12 : 14;
  const int vpay = mpeg1 ? 2019 : 2015, apay = mpeg1 ? 2024 : 2020;
  bool video = false;
  double bits = 0;
  for (int i = 0; i < n; ++i) {
    int payload, header;
    if (is_video(types[i])) {
      video = true;
      payload = vpay;
      header = vhdr;
    } else {
      payload = apay - (types[i] == 9 ? 4 : types[i] == 10 ? 7 : 0);
      header = ahdr;
    }
    if (payload <= 0) {
      trace("ERROR (program_min_mux_rate): audio pld_sz <= 0\n");
      return 0;
    }
    bits += double(pack + header + payload) * 8.0 * rates[i] / (payload * 8.0);
  }
  if (!video) {
    trace("ERROR (program_min_mux_rate): NO audio-only muxing\n");
    return 0;
  }
  const int system_header = mpeg1 ? pack + 16 * n : pack + 12 + 3 * n;
  bits += system_header * 8.0 / 7200.0;
  return int(round_up_400(bits));
}

int transport_min_mux_rate(int n, const int* rates, const int* types) {
  double bytes = 376;  // PAT and PMT each second
  for (int i = 0; rates && types && i < n; ++i) {
    const bool v = is_video(types[i]);
    const int payload = v ? 3653 : 906, header = v ? 19 : 14;
    const double packets = rates[i] / (8.0 * payload);
    bytes += packets * std::ceil(double(header + payload) / 184.0) * 188.0;
  }
  return int(round_up_400(bytes * 8));
}
