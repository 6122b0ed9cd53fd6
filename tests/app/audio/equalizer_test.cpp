#include "app/audio/equalizer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/app/audio/fake_track.h"

namespace {

GainSet all(int g) {
  GainSet s;
  s.fill(g);
  return s;
}

TEST(Equalizer, GainUnitsToLinearGains) {
  struct Case {
    int band, preamp;
    double want;
  };
  const double f18 = std::pow(10.0, 0.3);
  const Case cases[] = {{11, 12, 1.0}, {12, 12, 1.0}, {13, 12, 1.0}, {0, 12, std::pow(10.0, -0.3)},
                        {24, 12, f18}, {10, 12, std::pow(10.0, -0.05)}, {14, 12, std::pow(10.0, 0.05)},
                        {12, 18, f18}, {24, 18, f18 * f18}, {12, 0, std::pow(10.0, -0.6)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.band * 100 + c.preamp);
    GainSet g = all(12);
    g[5] = c.band;
    const auto f = equalizer_filters(g, c.preamp);
    EXPECT_NEAR(f[5], c.want, 1e-12);
    EXPECT_NEAR(f[6], std::pow(10.0, (c.preamp - 12) * 0.05), 1e-12);
  }
  // All at 12: exactly 1.0, so the engine switches its equalizer off.
  for (double v : equalizer_filters(all(12), 12)) EXPECT_EQ(v, 1.0);
}

TEST(Equalizer, PresetsAndFilterFiles) {
  const GainSet low = low_frequency_preset();
  EXPECT_EQ(std::vector<int>(low.begin(), low.begin() + 13),
            (std::vector<int>{24, 24, 24, 24, 24, 24, 24, 22, 18, 16, 14, 13, 12}));
  EXPECT_EQ(low[32], 24);
  const GainSet high = high_frequency_preset();
  EXPECT_EQ(std::vector<int>(high.begin(), high.begin() + 10), (std::vector<int>{12, 12, 12, 12, 13, 14, 16, 18, 22, 24}));
  EXPECT_EQ(high[31], 24);

  GainSet g = all(12);
  g[0] = 0;
  g[40] = 24;
  const std::string text = format_filter_file("/eq/a.eqz", g, 20);
  EXPECT_EQ(text.substr(0, 81),
            "#\n# Quarvel MPEG Audio Player Equalizer Filters\n#\t</eq/a.eqz\n#\n\t       0      12\n");
  EXPECT_NE(text.find("\n      20\n\n"), std::string::npos);
  GainSet back = all(5);
  int bands = 0;
  EXPECT_TRUE(parse_filter_file(text, &back, &bands));
  EXPECT_EQ(back, g);
  EXPECT_EQ(bands, 32);
  // A 25 in band 5 ends the reading after band 4.
  std::string bad = text;
  size_t at = 0;
  for (int line = 0; line < 8; ++line) at = bad.find('\n', at) + 1;  // 4 comment lines, bands 1-4
  bad.replace(at, bad.find('\n', at) - at, "\t      25      12");
  EXPECT_FALSE(parse_filter_file(bad, &back, &bands));
  EXPECT_EQ(bands, 4);
  EXPECT_FALSE(parse_filter_file("", &back, &bands));
  EXPECT_FALSE(parse_filter_file(std::string(5000, '\n') + "\t 1 x\n", &back, &bands));

  const std::string list = format_filter_list({"/eq/a.eqz", "/eq/b.eqz"}, "/eq", 0);
  const FilterList r = parse_filter_list(list + "MPEGAudioEqualizer: x\nOther: /y\n");
  EXPECT_EQ(r.paths, (std::vector<std::string>{"/eq/a.eqz", "/eq/b.eqz"}));
  EXPECT_EQ(r.folder, "/eq");
  EXPECT_NE(list.find("# total: 2\n"), std::string::npos);
}

TEST(Equalizer, OkApplyAndCancel) {
  FakePlatform fake;
  FakeFiles files;
  files.files["/t.mp2"] = FakeTrackSpec{};
  AudioPlayer p(files.deps(&fake.clock));
  p.OpenTrack("/t.mp2");
  auto* track = static_cast<FakeTrack*>(p.track());
  ASSERT_EQ(track->gains.size(), 64u);  // handed over as the output opened
  EXPECT_EQ(track->gains[0], 1.0);
  track->gains.clear();
  EqualizerSelection sel;
  p.HandleEqualizerEvent(sel, 0);  // OK, nothing changed: nothing applied
  EXPECT_TRUE(track->gains.empty());
  sel.gains[3] = 24;
  p.HandleEqualizerEvent(sel, 2);  // Cancel applies nothing
  EXPECT_TRUE(track->gains.empty());
  p.HandleEqualizerEvent(sel, 1);  // Apply after a change: once
  ASSERT_EQ(track->gains.size(), 64u);
  EXPECT_NEAR(track->gains[3], std::pow(10.0, 0.3), 1e-12);
  track->gains.clear();
  p.HandleEqualizerEvent(sel, 2);  // Cancel after Apply keeps what was applied
  EXPECT_EQ(p.equalizer.gains[3], 24);
}

}  // namespace
