// PCM comparison of our 16-bit output with the peers' decodes, as the
// decoder's acceptance bound states it: e = ours - clip16(32768 x ref).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PcmDiff {
  size_t ours = 0;  // values compared on our side
  size_t ref = 0;   // values of the reference
  double rms = 0.0;
  double max = 0.0;
  size_t max_at = 0;
};

// Reference samples as doubles in [-1, 1): ".f32" float little-endian,
// ".s24" 24-bit signed little-endian. Empty when the file is missing.
std::vector<double> mpa_read_reference(const std::string& path);
std::vector<int16_t> mpa_read_pcm(const std::string& path);
PcmDiff mpa_compare(const std::vector<int16_t>& ours, const std::vector<double>& ref, size_t skip_ours = 0,
                    size_t skip_ref = 0);
// RMS over the bound of 0.75 LSB or a single error above 2 LSB.
inline bool mpa_within_bound(const PcmDiff& d) { return d.rms <= 0.75 && d.max <= 2.0; }

// The decodes of file by every installed peer (ffmpeg's float decoder for
// the layer, mpg123, madplay), beside the file: peer name and output path.
struct PeerDecode {
  std::string name;
  std::string path;
};
std::vector<PeerDecode> mpa_peer_decodes(const std::string& file, int layer, int channels);

// Checks ours against each peer decode (gtest expectations). A lone peer
// outside the bound is outvoted, with a note, when allow_outvoted is set and
// the two others meet it. Returns the number of peers compared.
int mpa_expect_peers(const std::vector<int16_t>& ours, const std::vector<PeerDecode>& peers, bool allow_outvoted,
                     const std::string& what);

// A gtest parameter name from a file name: every other character becomes '_'.
std::string mpa_param_name(const std::string& text);
