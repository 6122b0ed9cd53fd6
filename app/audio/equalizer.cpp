#include "app/audio/equalizer.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::array<double, 64> equalizer_filters(const GainSet& gains, int preamp) {
  const double factor = std::pow(10.0, (preamp % 25 - 12) * 0.05);
  std::array<double, 64> out{};
  for (size_t i = 0; i < 64; ++i) {
    const int db = (gains[i] % 25 - 12) / 2;  // truncated toward zero: 11, 12, 13 all 0 dB
    out[i] = db == 0 ? factor : std::pow(10.0, db * 0.05) * factor;
  }
  return out;
}

namespace {

GainSet preset(const double (&factors)[32]) {
  GainSet g{};
  for (size_t i = 0; i < 32; ++i) g[i] = g[32 + i] = int(factors[i] * 12 + 0.5);
  return g;
}

}  // namespace

GainSet low_frequency_preset() {
  double f[32];
  for (int i = 0; i < 32; ++i) f[i] = i < 7 ? 2.0 : 1.0;
  const double mid[] = {1.8, 1.5, 1.3, 1.2, 1.1};
  for (int i = 0; i < 5; ++i) f[7 + i] = mid[i];
  return preset(f);
}

GainSet high_frequency_preset() {
  double f[32];
  for (int i = 0; i < 32; ++i) f[i] = i < 4 ? 1.0 : 2.0;
  const double mid[] = {1.1, 1.2, 1.3, 1.5, 1.8};
  for (int i = 0; i < 5; ++i) f[4 + i] = mid[i];
  return preset(f);
}

std::string format_filter_file(const std::string& path, const GainSet& gains, int preamp) {
  std::string out = "#\n# Quarvel MPEG Audio Player Equalizer Filters\n#\t<" + path + "\n#\n";
  char line[64];
  for (size_t i = 0; i < 32; ++i) {
    std::snprintf(line, sizeof line, "\t%8d%8d\n", gains[i], gains[32 + i]);
    out += line;
  }
  std::snprintf(line, sizeof line, "%8d\n", preamp);
  out += line;
  out += "\n";
  return out;
}

bool parse_filter_file(const std::string& text, GainSet* gains, int* bands) {
  int n = 0;
  size_t p = 0;
  while (n < 32 && p < text.size()) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(p, e - p);
    p = e + 1;
    if (line.size() > 127) line.resize(127);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line.size() < 16) continue;
    char* end = nullptr;
    const char* s = line.c_str();
    const long l = std::strtol(s, &end, 10);
    if (end == s) break;
    const char* s2 = end;
    const long r = std::strtol(s2, &end, 10);
    if (end == s2) break;
    if (l < 0 || l > 24 || r < 0 || r > 24) break;
    (*gains)[size_t(n)] = int(l);
    (*gains)[size_t(32 + n)] = int(r);
    ++n;
  }
  if (bands) *bands = n;
  return n == 32;
}

std::string format_filter_list(const std::vector<std::string>& paths, const std::string& folder, std::time_t when) {
  std::string out = "#\n# Quarvel MPEG Audio Player Equalizer Filter list\n";
  std::tm tm{};
  localtime_r(&when, &tm);
  char date[64];
  std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y\n", &tm);
  out += "# " + std::string(date) + "\n#\n";
  for (const std::string& p : paths) out += "MPEGAudioEqualizer: " + p + "\n";
  out += "#\n# total: " + std::to_string(paths.size()) + "\n#\n";
  out += "MPEGAudioEqualizerInitPath: " + folder + "\n#\n";
  return out;
}

FilterList parse_filter_list(const std::string& text) {
  FilterList r;
  size_t p = 0;
  while (p < text.size()) {
    size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(p, e - p);
    p = e + 1;
    if (line.empty() || line[0] == '#' || line.compare(0, 2, "//") == 0) continue;
    auto value = [&line](size_t from) {
      std::string v = from < line.size() ? line.substr(from) : std::string();
      while (v.size() > 1 && std::isspace((unsigned char)v.back())) v.pop_back();
      return v;
    };
    if (line.compare(0, 27, "MPEGAudioEqualizerInitPath:") == 0) {
      const std::string v = value(28);
      if (v.size() > 1) r.folder = v;
    } else if (line.compare(0, 19, "MPEGAudioEqualizer:") == 0) {
      const std::string v = value(20);
      if (v.size() > 1) r.paths.push_back(v);
    }
  }
  return r;
}
