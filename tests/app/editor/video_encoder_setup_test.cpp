// The video encoder setup's rules on a copy of a save's video data.
#include <gtest/gtest.h>

#include "app/editor/video_encoder_setup.h"
#include "app/shell/editor_settings.h"

namespace {

Clip video_clip(int mpeg2, int w, int h, double rate, int bits, int vbr = 0) {
  Clip c;
  c.clip_type = mpeg2 ? 6 : 4;
  c.video_stream_count = 1;
  c.mpeg2 = mpeg2;
  c.width = w;
  c.height = h;
  c.frame_rate = rate;
  c.video_bit_rate = bits;
  c.vbr = vbr;
  return c;
}

VideoEncoderData data() {
  VideoEncoderData v;
  v.clips = {video_clip(1, 720, 576, 25, 6000000), video_clip(1, 720, 576, 25, 6000000),
             video_clip(0, 352, 288, 25, 1150000)};
  v.mpeg2_format = 1;
  v.set_size(720, 576);
  v.frame_rate = 25;
  v.bit_rate = 6000000;
  v.gop_size = 12;
  v.sub_gop_size = 3;
  return v;
}

TEST(VideoEncoderSetup, OpeningSliderClipListAndRate) {
  struct Case {
    int mpeg2, quantiser, slider;
    bool quality;
  } cases[] = {{1, 3, 19, true}, {0, 3, 20, true}, {1, 0, 20, false}, {0, 0, 21, false}, {1, 1, 21, true}};
  for (const Case& c : cases) {
    VideoEncoderData v = data();
    v.mpeg2_format = c.mpeg2;
    v.fixed_mquant = c.quantiser;
    v.fixed_mq_max_bit_rate = 0;
    CVideoEncoderSetupDlg d(&v, 6);
    EXPECT_EQ(d.slider, c.slider) << c.mpeg2 << " q" << c.quantiser;
    EXPECT_EQ(d.constant_quality, c.quality);
    EXPECT_EQ(d.edited.fixed_mq_max_bit_rate, c.mpeg2 ? 6000000 : 2000000);  // a missing maximum
  }
  VideoEncoderData v = data();
  v.frame_rate = 29.97;
  CVideoEncoderSetupDlg d(&v, 6);
  EXPECT_EQ(d.clip_entries, (std::vector<int>{0, 2}));  // the same video once
  EXPECT_TRUE(d.clip_list_enabled);
  EXPECT_EQ(d.clip_entry, 0);  // the first movie clip, nothing loaded
  EXPECT_EQ(d.rate_index, 3);
  EXPECT_EQ(v.frame_rate, 29.97);
}

TEST(VideoEncoderSetup, LoadingAClipAndReset) {
  VideoEncoderData v = data();
  v.clip_select = 2;
  v.bit_rate = 999;
  CVideoEncoderSetupDlg d(&v, 4);
  // The selected clip's video is loaded at opening.
  EXPECT_EQ(d.clip_entry, 1);
  EXPECT_EQ(d.load_text, "Load Parameters from Input Clip: 3/3");
  EXPECT_EQ(d.edited.mpeg2_format, 0);
  EXPECT_EQ(d.edited.bit_rate, 1150000);
  EXPECT_EQ(d.edited.height, 288);
  EXPECT_FALSE(d.reset_enabled);
  d.set_bit_rate(1000000);
  EXPECT_TRUE(d.reset_enabled);
  d.reset();
  EXPECT_EQ(d.edited.bit_rate, 1150000);
  EXPECT_FALSE(d.reset_enabled);
}

TEST(VideoEncoderSetup, GopListsRatesAndFormatSwitch) {
  VideoEncoderData v = data();
  CVideoEncoderSetupDlg d(&v, 6);
  struct Step {
    char what;
    int value, n, m;
  } steps[] = {{'N', 1, 1, 0},  {'N', 8, 8, 3}, {'N', 2, 2, 2}, {'M', 5, 5, 5},
               {'M', 0, 1, 0},  {'N', 40, 15, 3}, {'M', 9, 15, 3}};
  for (const Step& s : steps) {
    if (s.what == 'N') d.set_gop_n(s.value);
    else d.set_gop_m(s.value);
    EXPECT_EQ(d.edited.gop_size, s.n) << s.what << s.value;
    EXPECT_EQ(d.edited.sub_gop_size, s.m) << s.what << s.value;
  }
  // Rates carry the picture between the 25- and 30-frame families.
  d.choose_rate(3);
  EXPECT_EQ(d.edited.height, 480);
  d.choose_rate(2);
  EXPECT_EQ(d.edited.height, 576);
  d.choose_rate(1);  // 24: the height stays
  EXPECT_EQ(d.edited.height, 576);
  // Each format keeps its own search distances.
  d.set_distances(11, 9);
  d.set_mpeg2(false);
  EXPECT_EQ(d.edited.me[0], 7);
  EXPECT_EQ(d.edited.fixed_mq_max_bit_rate, 2000000);
  EXPECT_FALSE(d.field_order_enabled);
  d.set_distances(5, 3);
  d.set_mpeg2(true);
  EXPECT_EQ(d.edited.me[0], 11);
  EXPECT_EQ(d.edited.me[1], 9);
  EXPECT_EQ(d.edited.fixed_mq_max_bit_rate, 6000000);
  d.set_mpeg2(false);
  EXPECT_EQ(d.edited.me[0], 5);
  EXPECT_EQ(d.edited.me[1], 3);
}

TEST(VideoEncoderSetup, OkQuantiserRulesAndResults) {
  {  // constant quality, slider never moved: no quantiser
    VideoEncoderData v = data();
    CVideoEncoderSetupDlg d(&v, 6);
    d.set_constant_quality(true);
    d.ok();
    EXPECT_TRUE(d.changed);
    EXPECT_EQ(v.fixed_mquant, 0);
  }
  {  // moved: the slider's quantiser, the maximum as bit rate
    VideoEncoderData v = data();
    CVideoEncoderSetupDlg d(&v, 6);
    d.set_constant_quality(true);
    d.set_max_bit_rate(8000000);
    d.move_slider(15);
    d.ok();
    EXPECT_EQ(v.fixed_mquant, 7);
    EXPECT_EQ(v.bit_rate, 8000000);
    EXPECT_EQ(v.clip_select, -1);
  }
  {  // nothing touched: nothing changed, the source left alone
    VideoEncoderData v = data();
    v.clip_select = 0;
    CVideoEncoderSetupDlg d(&v, 6);
    const VideoEncoderData before = v;
    d.ok();
    EXPECT_FALSE(d.changed);
    EXPECT_EQ(d.requested_kind, 6);
    EXPECT_TRUE(v == before);
  }
  {  // another GOP drops the clip
    VideoEncoderData v = data();
    v.clip_select = 0;
    CVideoEncoderSetupDlg d(&v, 6);
    d.set_gop_n(6);
    d.ok();
    EXPECT_TRUE(d.gop_changed);
    EXPECT_EQ(v.clip_select, -1);
    EXPECT_EQ(v.gop_size, 6);
  }
}

TEST(VideoEncoderSetup, ComplianceBoxesAndRequestedKind) {
  {  // SVCD: asked for as kind 7
    VideoEncoderData v = data();
    CVideoEncoderSetupDlg d(&v, 6);
    d.check_svcd();
    EXPECT_EQ(d.edited.width, 480);
    d.ok();
    EXPECT_EQ(d.requested_kind, 7);
    EXPECT_TRUE(d.want_svcd);
  }
  {  // the boxes are exclusive; Video CD makes MPEG-1
    VideoEncoderData v = data();
    CVideoEncoderSetupDlg d(&v, 6);
    d.check_svcd();
    d.check_vcd();
    EXPECT_FALSE(d.svcd);
    EXPECT_EQ(d.edited.mpeg2_format, 0);
    EXPECT_EQ(d.edited.bit_rate, 1150000);
    d.ok();
    EXPECT_EQ(d.requested_kind, 5);
    EXPECT_FALSE(d.want_svcd);
  }
  {  // DVD: a 1920x1080 picture is brought to the rules, constant quality
    VideoEncoderData v = data();
    v.set_size(1920, 1080);
    v.bit_rate = 15000000;
    CVideoEncoderSetupDlg d(&v, 4);
    d.check_dvd();
    EXPECT_TRUE(d.edited.is_dvd());
    EXPECT_TRUE(d.constant_quality);
    d.ok();
    EXPECT_EQ(d.requested_kind, 6);
    EXPECT_TRUE(d.want_dvd);
    EXPECT_TRUE(v.is_dvd());
  }
}

TEST(VideoEncoderSetup, FiltersFixedBoxAndFieldOrder) {
  EditorSettings s;
  s.encoder_temporal_filter = 1;
  s.encoder_deinterlace_filter = 0;
  s.encoder_scene_change = 0;
  s.encoder_inverse_telecine = 0;
  VideoEncoderData v = data();
  CVideoEncoderSetupDlg d(&v, 6, &s, true);
  EXPECT_TRUE(d.filters[0]);
  d.toggle_filter(0);  // no engine filter: kept as stored
  d.toggle_filter(1);
  d.toggle_filter(2);
  EXPECT_TRUE(d.filters[0]);
  EXPECT_FALSE(d.filters[1]);
  EXPECT_TRUE(d.fixed_visible);
  EXPECT_FALSE(d.fixed_enabled);
  d.set_constant_quality(true);
  d.toggle_fixed();
  d.move_slider(18);
  EXPECT_EQ(d.fixed_text, "q: 4");
  d.set_field_order(2);
  d.ok();
  EXPECT_EQ(s.encoder_temporal_filter, 1);
  EXPECT_EQ(s.encoder_scene_change, 1);
  EXPECT_EQ(s.encoder_deinterlace_filter, 0);
  EXPECT_EQ(v.reserved, 2);
  EXPECT_EQ(v.fixed_mquant, 4);
}

}  // namespace
