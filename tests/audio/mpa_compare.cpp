#include "mpa_compare.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

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

namespace {
bool have(const char* tool) { return tsupport::have_program(tool); }
}  // namespace

std::vector<PeerDecode> mpa_peer_decodes(const std::string& file, int layer, int channels) {
  using tsupport::sh_quote;
  std::vector<PeerDecode> peers;
  if (have("ffmpeg")) {
    const std::string out = file + ".ffmpeg.f32";
    const std::string codec = layer == 1 ? "mp1float" : layer == 2 ? "mp2float" : "mp3float";
    EXPECT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -c:a " + codec + " -i " + sh_quote(file) + " -f f32le " +
                            sh_quote(out)),
              0);
    peers.push_back({"ffmpeg", out});
  }
  if (have("mpg123")) {
    const std::string out = file + ".mpg123.f32";
    EXPECT_EQ(tsupport::run("mpg123 -q -e f32 -s " + sh_quote(file) + " > " + sh_quote(out)), 0);
    peers.push_back({"mpg123", out});
  }
  if (have("madplay")) {
    const std::string out = file + ".madplay.s24";
    EXPECT_EQ(tsupport::run("madplay -Q -d --bit-depth=24 " + std::string(channels == 2 ? "-S " : "") + "-o raw:" +
                            sh_quote(out) + " " + sh_quote(file)),
              0);
    peers.push_back({"madplay", out});
  }
  return peers;
}

int mpa_expect_peers(const std::vector<int16_t>& ours, const std::vector<PeerDecode>& peers, bool allow_outvoted,
                     const std::string& what) {
  std::vector<PcmDiff> diffs;
  int within = 0;
  for (const PeerDecode& p : peers) {
    diffs.push_back(mpa_compare(ours, mpa_read_reference(p.path)));
    within += mpa_within_bound(diffs.back()) && diffs.back().ours == diffs.back().ref;
  }
  for (size_t i = 0; i < peers.size(); ++i) {
    const PcmDiff& d = diffs[i];
    const bool ok = mpa_within_bound(d) && d.ours == d.ref;
    if (!ok && allow_outvoted && peers.size() == 3 && within == 2) {
      std::printf("note: %s departs from the two other peers on %s (rms %.2f)\n", peers[i].name.c_str(), what.c_str(),
                  d.rms);
      continue;
    }
    EXPECT_EQ(d.ours, d.ref) << peers[i].name << ": sample count";
    EXPECT_LE(d.rms, 0.75) << peers[i].name;
    EXPECT_LE(d.max, 2.0) << peers[i].name << " at " << d.max_at;
  }
  return static_cast<int>(peers.size());
}

std::string mpa_param_name(const std::string& text) {
  std::string s = text;
  for (char& c : s)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return s;
}
