// Streams of clips: records and descriptions from real files, timing, the
// count rule, and the audio clip list made from a video one.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_verify.h"
#include "engine/clips/cliplist_file.h"
#include "support/support.h"

namespace {

Clip verified(const char* name, int start = 0, int count = 0) {
  auto made = clip_ctor(tsupport::fixture(name).c_str(), start, count, 0, 0);
  EXPECT_TRUE(made) << name;
  return made.value_or(Clip());
}

TEST(ClipStreams, VideoRecordsOfFiles) {
  {
    MPEG_Clip c(verified("fa_sd.m2v"));
    ESData es[4];
    ASSERT_EQ(mpeg_clip_get_es_data(&c, es, 4), 1);
    EXPECT_TRUE(es[0].is_video());
    EXPECT_EQ(es[0].get_video_width(), 720);
    ClipInfo info;
    ASSERT_EQ(clip_get_video_es_info(&c, &info, 1), 1);
    EXPECT_EQ(info.mpeg_version, 2);
    EXPECT_EQ(info.height, 576);
    EXPECT_NEAR(info.frame_rate, 25.0, 1e-9);
    ClipInfo all[4];
    EXPECT_EQ(clip_get_es_info(&c, all, 4), 1);
  }
  {  // a JPEG still: an MPEG-1 video record of the picture's size
    MPEG_Clip c(verified("jpg_odd.jpg"));
    ESData e;
    ASSERT_EQ(mpeg_clip_get_video_es_data(&c, &e), 1);
    EXPECT_EQ(e.kind, ES_KIND_MPEG1_VIDEO);
    EXPECT_EQ(e.get_video_width(), c.width);
    EXPECT_EQ(e.get_video_height(), c.height);
    ESData one[1];
    EXPECT_EQ(mpeg_clip_get_es_data(&c, one, 1), 1);
  }
  {  // audio files: no video; their own facts through get_es_info
    Clip a = verified("ac3_48000_6ch.ac3");
    MPEG_Clip m(a);
    ESData e;
    EXPECT_EQ(mpeg_clip_get_video_es_data(&m, &e), 0);
    EXPECT_EQ(mpeg_clip_get_audio_es_data(&m, &e), 1);
    ClipInfo info[2];
    EXPECT_EQ(clip_get_es_info(&a, info, 2), 0);
    EXPECT_EQ(info[0].sample_rate, 48000);
    ClipInfo ai;
    ASSERT_EQ(clip_get_audio_es_info(&a, &ai, 1), 1);
    EXPECT_EQ(ai.sample_rate, 48000);
    EXPECT_EQ(ai.get_audio_type(), 9);
  }
  tsupport::TraceCapture trace;
  Clip v = verified("st_m1.m1v");
  ClipInfo info;
  EXPECT_EQ(clip_get_audio_es_info(&v, &info, 1), 0);
  EXPECT_TRUE(trace.contains("ERROR (Clip::get_audio_es_info): non-MPEG clip\n"));
  EXPECT_EQ(clip_get_video_es_info(&v, nullptr, 1), 0);
  ESData none[1];
  MPEG_Clip mv(v);
  EXPECT_EQ(mpeg_clip_get_es_data(&mv, none, 0), 0);
}

TEST(ClipStreams, TimingAndCount) {
  Clip v = verified("fa_sd.m2v", 10, 50);
  EXPECT_NEAR(clip_get_video_frame_period(&v), 0.04, 1e-12);
  EXPECT_NEAR(clip_get_video_time_of(&v), 2.0, 1e-9);
  EXPECT_NEAR(clip_get_video_start_time(&v), 0.4, 1e-9);
  v.transition_length = 5;
  EXPECT_NEAR(clip_get_video_transition_time(&v), 0.2, 1e-9);
  EXPECT_NEAR(clip_get_video_time_without_transition(&v), 1.8, 1e-9);
  // A request longer than the stream moves start back to 0 and is cut.
  EXPECT_EQ(clip_set_count(&v, 1000), v.video_frame_total);
  EXPECT_EQ(v.start, 0);
  v.start = 200;
  EXPECT_EQ(clip_set_count(&v, 150), 150);
  EXPECT_EQ(v.start, v.video_frame_total - 150);
  Clip s = verified("jpg_q95.jpg");
  EXPECT_EQ(clip_set_count(&s, 0), s.count);
  EXPECT_EQ(clip_set_count(&s, 7), 7);

  Clip a = verified("mp2_44100.mp2", 10, 20);
  EXPECT_NEAR(clip_get_frame_period(&a), 1152.0 / 44100, 1e-12);
  EXPECT_NEAR(clip_get_time_of(&a), 10 * 1152.0 / 44100, 1e-9);
  EXPECT_NEAR(clip_get_length_time(&a), a.audio_frame_total * 1152.0 / 44100, 1e-6);
  EXPECT_NEAR(clip_get_time_without_transition(&a), 20 * 1152.0 / 44100, 1e-9);
  Clip c;
  c.cut_transition();
  c.start = 5, c.count = 20, c.transition_id = 4, c.transition_length = 6;
  c.cut_transition();
  EXPECT_EQ(c.start, 11);
  EXPECT_EQ(c.count, 14);
  EXPECT_EQ(c.transition_id, 0);
}

TEST(ClipStreams, AudioRangeFollowsTheVideo) {
  MPEG_Clip* list = mpeg_clip_of_file(tsupport::fixture("fa_sd.m2v").c_str(), 0, 120);
  MPEG_Clip* second = mpeg_clip_of_file(tsupport::fixture("fa_long.m2v").c_str(), 0, 80);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(second, nullptr);
  list->next = second;
  second->prev = list;
  clip_update(list);
  ASSERT_EQ(clip_insert_transitions(list, 120, 4, 10), 10);
  const int video_frames = mpeg_clip_list_total_frames(list, 1);
  for (auto [rate, layer] : {std::pair{48000, 2}, {44100, 2}, {32000, 1}, {48000, 0}}) {
    MPEG_Clip* audio = mpeg_clip_get_audio_range(list, rate, layer, 0);
    ASSERT_NE(audio, nullptr);
    const double d = (layer == 1 ? 384.0 : layer == 0 ? 1536.0 : 1152.0) / rate;
    int frames = 0;
    for (const MPEG_Clip* c = audio; c; c = c->next) {
      EXPECT_EQ(c->transition_length, 0);
      EXPECT_EQ(c->audio_units, 1);
      frames += c->count;
    }
    const double want = video_frames / 25.0 / d;
    EXPECT_GE(frames, int(std::floor(want)) - 1) << rate;
    EXPECT_LE(frames, int(std::ceil(want)) + 1) << rate;
    // Converted lists come back as they are.
    MPEG_Clip* again = mpeg_clip_get_audio_range(audio, rate, layer, 25);
    EXPECT_FALSE(mpeg_clip_list_differs(again, audio));
    mpeg_clip_list_free(again);
    mpeg_clip_list_free(audio);
  }
  mpeg_clip_list_free(list);
}

}  // namespace
