#include "app/audio/equalizer_dialog.h"

#include <gtest/gtest.h>

namespace {

GainSet flat() {
  GainSet g;
  g.fill(12);
  return g;
}

TEST(EqualizerDialog, ChannelsLinkWhenEqualAndStayOneWhenApart) {
  GainSet apart = flat();
  apart[40] = 20;
  EqualizerDialogModel m(apart, 12);
  EXPECT_EQ(m.mode(), EqualizerDialogModel::kLeft);
  EXPECT_TRUE(m.copy_enabled());
  m.toggle_left();  // the only checked channel: the other instead
  EXPECT_EQ(m.mode(), EqualizerDialogModel::kRight);
  EXPECT_EQ(m.shown_channel(), 1);
  m.show_page(2);
  EXPECT_EQ(m.band_gain(0), 20);
  m.set_band(0, 4);
  EXPECT_EQ(m.gains()[40], 4);
  EXPECT_EQ(m.gains()[8], 12);
  EXPECT_TRUE(m.modified());
  m.right_to_left();
  EXPECT_EQ(m.mode(), EqualizerDialogModel::kBoth);
  EXPECT_EQ(m.gains()[8], 4);
  EXPECT_EQ(m.page(0), 2);
  EXPECT_FALSE(m.copy_enabled());
  m.set_band(1, 24);  // linked: both channels
  EXPECT_EQ(m.gains()[9], 24);
  EXPECT_EQ(m.gains()[41], 24);
}

TEST(EqualizerDialog, PresetsAndEvents) {
  GainSet apart = flat();
  apart[40] = 20;
  EqualizerDialogModel m(apart, 15);
  std::vector<int> events;
  m.on_event = [&events](const GainSet&, int, int e) { events.push_back(e); };
  m.select_preset(2, nullptr);
  EXPECT_EQ(m.gains(), low_frequency_preset());
  EXPECT_EQ(m.mode(), EqualizerDialogModel::kBoth);
  EXPECT_EQ(m.preamp(), 15);
  m.reset();
  EXPECT_EQ(m.gains(), flat());
  EXPECT_EQ(m.preamp(), 12);
  EXPECT_EQ(m.selected_preset(), 0);
  m.select_preset(1, nullptr);
  EXPECT_EQ(m.gains(), apart);
  EXPECT_EQ(m.preamp(), 15);
  // File presets: one entry per file name; a failed load keeps the selection.
  EXPECT_EQ(m.add_preset_file("/a/x.eqz"), 4);
  EXPECT_EQ(m.add_preset_file("/b/x.eqz"), 4);
  m.select_preset(4, [](const std::string&, GainSet*) { return false; });
  EXPECT_EQ(m.selected_preset(), 1);
  m.select_preset(4, [](const std::string& p, GainSet* g) {
    g->fill(p == "/a/x.eqz" ? 3 : 9);
    return true;
  });
  EXPECT_EQ(m.gains()[0], 3);
  m.apply();
  m.ok();
  m.cancel();
  EXPECT_EQ(events, (std::vector<int>{1, 0, 2}));
  EXPECT_EQ(EqualizerDialogModel::page_caption(7), "Frequency: 17.5-20.0 kHz");
}

TEST(EqualizerDialog, GraphGeometry) {
  const EqualizerGraph g = EqualizerGraph::from_size(360, 150);
  EXPECT_EQ(g.column, 10);
  EXPECT_EQ(g.x0, 35);
  EXPECT_EQ(g.height, 50);
  EXPECT_EQ(g.left_base, 62);
  EXPECT_EQ(g.right_base, 137);
  EXPECT_EQ(g.bar(24), 50);
  EXPECT_EQ(g.bar(12), 25);
  EXPECT_EQ(g.column_x(31), 345);
}

}  // namespace
