// The engine's playback sound: the movie's audio in step with the frames
// shown, silence for clips without sound, nothing while playing backward,
// and the track following every edit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "access/dtv.h"
#include "audio/track/datrack.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/mpeg_editor.h"
#include "support.h"

namespace {

// clips_v.m2v has no sound; clips_2mp2.vob is the same picture with a
// 48 kHz stereo tone. Both run 25 frames a second.
std::unique_ptr<MPEG_Editor> open_list(const std::vector<std::pair<std::string, int>>& clips, int rate = 0,
                                       int channels = 0) {
  MPEG_Clip *head = nullptr, *tail = nullptr;
  for (const auto& [name, count] : clips) {
    MPEG_Clip* c = mpeg_clip_of_file(tsupport::fixture(name).c_str(), 0, count);
    if (!c) {
      mpeg_clip_list_free(head);
      return nullptr;
    }
    clip_list_link(&head, &tail, c);
  }
  head = clip_update(head);
  std::unique_ptr<EClip> p(mpeg_clip_2_eclip(head));
  mpeg_clip_list_free(head);
  return MPEG_Editor::create(*p, 0, rate, channels);
}

std::vector<int16_t> block(DTamsel* e, double* t = nullptr) {
  int bytes = 0;
  const int16_t* pcm = e->get_audio_samples(&bytes, t);
  if (!pcm || bytes <= 0) return {};
  return {pcm, pcm + bytes / 2};
}

// What a track of the engine's list gives from time t on.
std::vector<int16_t> reference(DTamsel* e, double t, int n) {
  DATrack track;
  if (track.init(e->get_clip_list(), e->get_sample_rate(), e->get_channels()) != 0) return {};
  track.seek(t);
  int got = 0;
  const int16_t* pcm = track.get_pcm(n, &got);
  return pcm ? std::vector<int16_t>(pcm, pcm + got) : std::vector<int16_t>();
}

}  // namespace

TEST(EngineAudio, FormatFromTheFirstClipOrTheCaller) {
  if (auto miss = tsupport::missing_fixture({"clips_2mp2.vob", "clips_v.m2v"}); !miss.empty()) GTEST_SKIP() << miss;
  auto ed = open_list({{"clips_2mp2.vob", 50}});
  ASSERT_TRUE(ed);
  DTamsel* e = ed->engine();
  EXPECT_TRUE(e->has_audio());
  EXPECT_EQ(e->get_sample_rate(), 48000);
  EXPECT_EQ(e->get_channels(), 2);
  ASSERT_NE(e->get_audio_player(), nullptr);
  EXPECT_EQ(block(e).size(), 2u * 1152);

  auto mono = open_list({{"clips_2mp2.vob", 50}}, 32000, 1);
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono->get_sample_rate(), 32000);
  EXPECT_EQ(block(mono->engine()).size(), 1152u);

  // A rate the output cannot take becomes 44100; 0 channels keeps them.
  EXPECT_EQ(e->set_audio_format(22050, 0), 0);
  EXPECT_EQ(e->get_sample_rate(), 44100);
  EXPECT_EQ(e->get_channels(), 2);
  EXPECT_EQ(e->set_audio_format(44100, 2), 1);
  ASSERT_NE(e->get_audio_player(), nullptr);
  EXPECT_EQ(e->get_audio_player()->get_rate(), 44100);

  // A movie without sound builds no player and plays nothing.
  auto silent = open_list({{"clips_v.m2v", 50}});
  ASSERT_TRUE(silent);
  EXPECT_EQ(silent->engine()->get_audio_player(), nullptr);
  EXPECT_TRUE(block(silent->engine()).empty());
  EXPECT_EQ(silent->get_sample_rate(), 44100);
}

TEST(EngineAudio, SearchReseeksTheSoundToTheFrameShown) {
  if (auto miss = tsupport::missing_fixture({"clips_2mp2.vob"}); !miss.empty()) GTEST_SKIP() << miss;
  auto ed = open_list({{"clips_2mp2.vob", 70}});
  ASSERT_TRUE(ed);
  DTamsel* e = ed->engine();
  for (int frame : {50, 7, 0, 63}) {
    e->search(frame, 0, 0);
    double t = -1;
    const auto got = block(e, &t);
    ASSERT_EQ(got.size(), 2u * 1152) << frame;
    // The block starts at the frame's time, to the sample.
    EXPECT_NEAR(t, frame / 25.0, 0.5 / 48000) << frame;
    EXPECT_EQ(got, reference(e, frame / 25.0, 2 * 1152)) << frame;
    // Later blocks follow on without a gap.
    double t2 = -1;
    block(e, &t2);
    EXPECT_NEAR(t2, t + 1152.0 / 48000, 0.5 / 48000) << frame;
  }
  // Stepping does not reseek: sound runs on from where it stands.
  e->search(10, 1, 0);
  double t0 = -1, t1 = -1;
  block(e, &t0);
  ASSERT_EQ(e->forward(1), 1);
  block(e, &t1);
  EXPECT_NEAR(t1, t0 + 1152.0 / 48000, 0.5 / 48000);
}

TEST(EngineAudio, BackwardPlayIsSilentAndForwardPlayRestartsAtTheFrame) {
  if (auto miss = tsupport::missing_fixture({"clips_2mp2.vob"}); !miss.empty()) GTEST_SKIP() << miss;
  auto ed = open_list({{"clips_2mp2.vob", 70}});
  ASSERT_TRUE(ed);
  DTamsel* e = ed->engine();
  e->search(40, 1, 0);
  block(e);
  const int mode = e->set_play_mode((e->get_dtv()->get_play_mode() & ~kPlayForward) | kPlayBackward);
  for (int k = 0; k < 5; ++k) ASSERT_EQ(e->backward(1), 1);
  EXPECT_TRUE(block(e).empty());
  e->set_play_mode(mode | kPlayForward);
  double t = -1;
  EXPECT_FALSE(block(e, &t).empty());
  EXPECT_NEAR(t, e->get_current_time(), 0.5 / 48000);
  EXPECT_EQ(e->get_curr_frame_offset(), 35);
}

// A clip without sound plays silence for exactly its length, then the
// next clip's sound follows; the end gives no more blocks.
TEST(EngineAudio, VideoOnlyClipIsSilenceForItsLength) {
  if (auto miss = tsupport::missing_fixture({"clips_2mp2.vob", "clips_v.m2v"}); !miss.empty()) GTEST_SKIP() << miss;
  auto ed = open_list({{"clips_2mp2.vob", 25}, {"clips_v.m2v", 50}, {"clips_2mp2.vob", 25}});
  ASSERT_TRUE(ed);
  DTamsel* e = ed->engine();
  EXPECT_EQ(e->get_sample_rate(), 48000);
  std::vector<int16_t> all;
  for (int guard = 0; guard < 1000; ++guard) {
    const auto b = block(e);
    if (b.empty()) break;
    all.insert(all.end(), b.begin(), b.end());
  }
  const size_t per_second = 2 * 48000;
  // Four seconds, rounded up to whole blocks.
  ASSERT_GE(all.size(), 4 * per_second);
  EXPECT_LT(all.size(), 4 * per_second + 2 * 1152);
  auto loud = [&](size_t from, size_t to) {
    int peak = 0;
    for (size_t k = from; k < to; ++k) peak = std::max(peak, std::abs(int(all[k])));
    return peak;
  };
  const size_t frame = per_second / 25;
  EXPECT_GT(loud(frame, per_second - frame), 1000);
  EXPECT_EQ(loud(per_second + frame, 3 * per_second - frame), 0);
  EXPECT_GT(loud(3 * per_second + frame, 4 * per_second - frame), 1000);
  // The silence starts and ends within a frame of the clip's bounds.
  size_t first_zero = per_second - frame;
  while (first_zero < all.size() && (all[first_zero] != 0 || all[first_zero + 1] != 0)) first_zero += 2;
  EXPECT_LE(first_zero, per_second + frame);
}

TEST(EngineAudio, EditsHandTheTrackTheNewList) {
  if (auto miss = tsupport::missing_fixture({"clips_2mp2.vob", "clips_v.m2v"}); !miss.empty()) GTEST_SKIP() << miss;
  auto ed = open_list({{"clips_v.m2v", 25}, {"clips_2mp2.vob", 50}});
  ASSERT_TRUE(ed);
  DTamsel* e = ed->engine();
  e->search(0, 1, 0);
  EXPECT_EQ(block(e), std::vector<int16_t>(2 * 1152, 0));
  // Cutting the silent clip away: the movie starts with sound.
  ASSERT_EQ(ed->frame_cut(0, 25), 1);
  ASSERT_NE(e->get_audio_player(), nullptr);
  EXPECT_NEAR(e->get_audio_player()->get_total(), e->get_total_time(), 0.001);
  e->search(0, 1, 0);
  double t = -1;
  const auto got = block(e, &t);
  EXPECT_NEAR(t, 0.0, 1e-9);
  EXPECT_EQ(got, reference(e, 0.0, 2 * 1152));
  int peak = 0;
  for (int16_t s : got) peak = std::max(peak, std::abs(int(s)));
  EXPECT_GT(peak, 1000);
  // Cutting all sound away drops the player.
  auto only_video = open_list({{"clips_2mp2.vob", 25}, {"clips_v.m2v", 25}});
  ASSERT_TRUE(only_video);
  ASSERT_EQ(only_video->frame_cut(0, 25), 1);
  EXPECT_EQ(only_video->engine()->get_audio_player(), nullptr);
  EXPECT_TRUE(block(only_video->engine()).empty());

  e->disable_audio();
  EXPECT_TRUE(block(e).empty());
}

// The window's playback loop through the sound output into a WAVE file:
// exactly the track's samples for the frames played.
TEST(EngineAudio, PlayOperationWritesTheSoundOfTheFramesPlayed) {
  if (auto miss = tsupport::missing_fixture({"clips_2mp2.vob"}); !miss.empty()) GTEST_SKIP() << miss;
  const std::string dir = tsupport::temp_dir();
  const std::string script = dir + "/play.ops", wav = dir + "/play.wav";
  const std::string ops = "play 25 49 " + wav + "\n";
  ASSERT_TRUE(tsupport::write_file(script, std::vector<uint8_t>(ops.begin(), ops.end())));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("edit " + tsupport::sh_quote(tsupport::fixture("clips_2mp2.vob")) + " --script " +
                              tsupport::sh_quote(script),
                          &lines),
            0);
  std::string play;
  for (const auto& l : lines)
    if (l.rfind("play ", 0) == 0) play = l;
  ASSERT_FALSE(play.empty());
  EXPECT_EQ(tsupport::field_int(play, "frames"), 25);
  EXPECT_EQ(tsupport::field_int(play, "rate"), 48000);
  EXPECT_EQ(tsupport::field_int(play, "channels"), 2);
  EXPECT_NEAR(std::atof(tsupport::field(play, "first_time").c_str()), 1.0, 1e-6);
  // One second of sound, rounded up to whole blocks.
  const long long samples = tsupport::field_int(play, "samples");
  EXPECT_GE(samples, 2 * 48000);
  EXPECT_LT(samples, 2 * 48000 + 2 * 1152);
  const auto bytes = tsupport::read_file(wav);
  ASSERT_GE(bytes.size(), 44 + size_t(samples) * 2);

  auto ed = open_list({{"clips_2mp2.vob", 0}});
  ASSERT_TRUE(ed);
  const auto want = reference(ed->engine(), 1.0, int(samples));
  std::vector<int16_t> got(static_cast<size_t>(samples));
  std::copy_n(bytes.data() + bytes.size() - size_t(samples) * 2, samples * 2, reinterpret_cast<uint8_t*>(got.data()));
  EXPECT_EQ(got, want);
}

// A copied range takes the player's gain envelope over its span, so that an
// editor opened on the copy plays the range at the levels it had.
TEST(EngineAudio, CopiedRangeCarriesTheGainEnvelope) {
  TSUPPORT_NEED_FIXTURES("clips_2mp2.vob");
  auto ed = open_list({{"clips_2mp2.vob", 0}});
  ASSERT_TRUE(ed);
  ed->engine()->set_pcm_scale({{0.0f, 1.0f}, {2.0f, 0.0f}, {3.0f, 0.5f}});
  const std::vector<PCMScalePoint> want = {{0.0f, 0.5f}, {1.0f, 0.0f}, {1.6f, 0.3f}};
  for (const bool by_frames : {true, false}) {
    SCOPED_TRACE(by_frames ? "frame_copy" : "copy");
    auto p = by_frames ? ed->frame_copy(25, 40) : ed->copy(1.0, 1.6);  // 1.0 s to 2.6 s
    ASSERT_TRUE(p);
    std::unique_ptr<MPEG_Editor> copy_made = MPEG_Editor::create(*p, 0, 0, 0);
    ASSERT_TRUE(copy_made);
    MPEG_Editor& copy = *copy_made;
    const std::vector<PCMScalePoint> got = copy.engine()->get_pcm_scale();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i].time, want[i].time, 1e-4) << i;
      EXPECT_NEAR(got[i].gain, want[i].gain, 1e-4) << i;
    }
  }
}
