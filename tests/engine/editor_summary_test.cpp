// The editor's summary queries over edit lists of several files: the
// longest video format, the shared audio format, multiplex rates per frame,
// and the display-mode word.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "access/dtv.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/cliplist_file.h"
#include "engine/mpeg_editor.h"
#include "mux/mux_drivers.h"
#include "support/support.h"

namespace {

// An editor over ranges (file, start, count) of fixtures, in order.
std::unique_ptr<MPEG_Editor> editor_of(const std::vector<std::tuple<const char*, int, int>>& ranges) {
  EClip p;
  for (const auto& [name, start, count] : ranges) {
    MPEG_Clip* c = mpeg_clip_of_file(tsupport::fixture(name).c_str(), start, count);
    EXPECT_TRUE(c) << name;
    if (!c) return nullptr;
    std::unique_ptr<EClip> one(mpeg_clip_2_eclip(c));
    mpeg_clip_list_free(c);
    p.clips.push_back(one->clips[0]);
  }
  auto ed = MPEG_Editor::create(p, 0, 0, 0);
  EXPECT_TRUE(ed);
  return ed;
}

TEST(EditorSummary, LongestVideoFormatCountsEveryClipOfItsGroup) {
  // 720x576 in two short pieces (2 x 30 frames at 25 fps) against one
  // 352x288 piece of 50 frames: the group, not the single clip, decides.
  auto ed = editor_of({{"en_a.m2v", 0, 50}, {"cv_dvd.vob", 0, 30}, {"cv_dvd.vob", 40, 30}});
  ASSERT_TRUE(ed);
  VideoInfo v;
  EXPECT_EQ(ed->get_longest_video_info(&v), 1);
  EXPECT_EQ(v.width, 720);
  EXPECT_EQ(v.height, 576);
  EXPECT_EQ(v.mpeg2, 1);
  EXPECT_DOUBLE_EQ(v.frame_rate, 25.0);
  // A tie goes to the earlier group.
  auto tie = editor_of({{"en_a.m2v", 0, 30}, {"cv_dvd.vob", 0, 30}});
  ASSERT_TRUE(tie);
  EXPECT_EQ(tie->get_longest_video_info(&v), 0);
  EXPECT_EQ(v.width, 352);
  // Seconds, not frames: 40 frames at 29.97 fps are shorter than 35 at 25.
  auto rates = editor_of({{"en_ntsc.m2v", 0, 40}, {"en_a.m2v", 0, 35}});
  ASSERT_TRUE(rates);
  EXPECT_EQ(rates->get_longest_video_info(&v), 1);
  EXPECT_EQ(v.height, 288);
}

TEST(EditorSummary, ReferenceAudioOnlyWhenEveryClipSharesItsFormat) {
  AudioInfo a;
  auto same = editor_of({{"clips_2mp2b.vob", 0, 40}, {"clips_2mp2.vob", 10, 30}});
  ASSERT_TRUE(same);
  EXPECT_EQ(same->get_reference_audio_info(&a), 1);
  EXPECT_EQ(a.sample_rate, 48000);
  EXPECT_EQ(a.channels, 2);
  EXPECT_EQ(a.layer, 2);
  EXPECT_EQ(a.bit_rate, 192000);
  // Mono MP2 against stereo; a clip without audio.
  auto other = editor_of({{"clips_2mp2.vob", 0, 40}, {"cv_dvd.vob", 0, 30}});
  ASSERT_TRUE(other);
  EXPECT_EQ(other->get_reference_audio_info(&a), 0);
  auto silent = editor_of({{"clips_2mp2.vob", 0, 40}, {"en_a.m2v", 0, 30}});
  ASSERT_TRUE(silent);
  EXPECT_EQ(silent->get_reference_audio_info(&a), 0);
  EXPECT_FALSE(MPEG_Editor::create("/nonexistent/file.m2v"));
}

TEST(EditorSummary, ClipMuxRatesInBytesPerFrame) {
  auto ed = editor_of({{"cv_vcd.mpg", 0, 40}, {"cv_dvd.vob", 0, 30}});
  ASSERT_TRUE(ed);
  for (const int index : {0, -1, 1, 7}) {
    SCOPED_TRACE(index);
    const char* file = index == 0 || index == -1 ? "cv_vcd.mpg" : "cv_dvd.vob";
    MuxRates m;
    ASSERT_EQ(ed->get_clip_mux_rates(index, &m), 0);
    const int got[5] = {m.video_es, m.mpeg1_system, m.vcd, m.program, m.transport};
    // Worked out again from the file's own streams.
    ESData es[16];
    MPEG_Clip* c = mpeg_clip_of_file(tsupport::fixture(file).c_str(), 0, 0);
    ASSERT_TRUE(c);
    const int n = mpeg_clip_get_es_data(c, es, 16);
    mpeg_clip_list_free(c);
    int want[5];
    mux_rates_for_es_list(want, n, es);
    want[2] = 1411200;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(got[i], (want[i] + 100) / 200) << i;  // 8 x 25 fps, rounded
    MuxRates direct;
    ESData videos[1] = {es[0].is_video() ? es[0] : es[1]};
    std::vector<ESData> audios;
    for (int i = 0; i < n; ++i)
      if (es[i].is_audio()) audios.push_back(es[i]);
    EXPECT_EQ(estimate_mux_rates(1, videos, int(audios.size()), audios.data(), &direct), 0);
    EXPECT_EQ(direct.vcd, 7056);  // 1411200 / 200
  }
  MuxRates out;
  EXPECT_EQ(estimate_mux_rates(0, nullptr, 0, nullptr, &out), 1);
}

TEST(EditorSummary, PlayModeSwitchesOneDisplayBitAndReportsTheOld) {
  auto ed = editor_of({{"en_a.m2v", 0, 50}});
  ASSERT_TRUE(ed);
  const int start = ed->engine()->get_play_mode();
  ASSERT_TRUE(start & kPlayExact);
  EXPECT_EQ(ed->set_play_mode(PlayMode::i_and_p), PlayMode::every_frame);
  const int ip = ed->engine()->get_play_mode();
  EXPECT_EQ(ip & (kPlayExact | kPlayIP | kPlayGOP), kPlayIP);
  EXPECT_EQ(ip & ~(kPlayExact | kPlayIP | kPlayGOP), start & ~(kPlayExact | kPlayIP | kPlayGOP));
  EXPECT_EQ(ed->set_play_mode(PlayMode::i_and_p), PlayMode::i_and_p);  // already set: unchanged
  EXPECT_EQ(ed->engine()->get_play_mode(), ip);
  EXPECT_EQ(ed->set_play_mode(PlayMode::i_only), PlayMode::i_and_p);
  EXPECT_EQ(ed->engine()->get_play_mode() & (kPlayExact | kPlayIP | kPlayGOP), kPlayGOP);
  EXPECT_EQ(ed->set_play_mode(PlayMode::every_frame), PlayMode::i_only);
  EXPECT_EQ(ed->engine()->get_play_mode(), start);
}

}  // namespace
