#include "mpa_compare.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support.h"

std::vector<double> mpa_read_reference(const std::string& path) {
  std::vector<double> out;
  const std::vector<uint8_t> raw = tsupport::read_file(path);
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".s24") == 0) {
    out.reserve(raw.size() / 3);
    for (size_t i = 0; i + 3 <= raw.size(); i += 3) {
      int32_t v = raw[i] | raw[i + 1] << 8 | raw[i + 2] << 16;
      if (v & 0x800000) v -= 0x1000000;
      out.push_back(v / 8388608.0);
    }
  } else {
    out.reserve(raw.size() / 4);
    for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
      float f;
      std::memcpy(&f, &raw[i], 4);
      out.push_back(f);
    }
  }
  return out;
}

std::vector<int16_t> mpa_read_pcm(const std::string& path) {
  const std::vector<uint8_t> raw = tsupport::read_file(path);
  std::vector<int16_t> out(raw.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
  return out;
}

PcmDiff mpa_compare(const std::vector<int16_t>& ours, const std::vector<double>& ref, size_t skip_ours,
                    size_t skip_ref) {
  PcmDiff d;
  d.ours = ours.size() > skip_ours ? ours.size() - skip_ours : 0;
  d.ref = ref.size() > skip_ref ? ref.size() - skip_ref : 0;
  const size_t n = std::min(d.ours, d.ref);
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double r = std::clamp(ref[skip_ref + i] * 32768.0, -32768.0, 32767.0);
    const double e = ours[skip_ours + i] - r;
    sum += e * e;
    if (std::fabs(e) > d.max) {
      d.max = std::fabs(e);
      d.max_at = i;
    }
  }
  d.rms = n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
  return d;
}
