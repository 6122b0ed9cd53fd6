#include "app/audio/audio_player.h"

#include <gtest/gtest.h>

#include "tests/app/audio/fake_track.h"

namespace {

struct PlayerTest : ::testing::Test {
  FakePlatform fake;
  FakeFiles files;
  void SetUp() override {
    audio_volume = 40;
    audio_channel_left = 1;
    audio_channel_right = 1;
  }
  // Plays until another entry opens or playback stops; the index then
  // playing, -1 when stopped.
  int play_to_next(AudioPlayer& p) {
    const int from = p.current();
    for (int i = 0; i < 400 && p.playing(); ++i) {
      tick(p, fake.clock);
      if (p.current() != from) return p.current();
    }
    return p.playing() ? p.current() : -1;
  }
};

TEST_F(PlayerTest, StreamsOfAFileAreEntriesAddedOnce) {
  FakeTrackSpec three;
  three.ids = {0xC0, 0xC1, 0xC2};
  files.files["/m/three.mpg"] = three;
  FakeTrackSpec ts;  // two streams sharing id 0xC0 on two PIDs
  ts.ids = {0xC0, 0xC0};
  ts.pids = {0x44, 0x45};
  files.files["/m/two.ts"] = ts;
  FakeTrackSpec ac3;
  ac3.ids = {0xC0, 0x80};
  files.files["/m/mixed.vob"] = ac3;
  AudioPlayer p(files.deps(&fake.clock));
  int added = 0;
  EXPECT_EQ(p.AddFileToPlayList("/m/three.mpg", &added), 0);
  EXPECT_EQ(added, 1);
  EXPECT_EQ(p.AddFileToPlayList("/m/three.mpg", &added), 0);
  EXPECT_EQ(added, 0);
  p.AddFileToPlayList("/m/two.ts", &added);
  p.AddFileToPlayList("/m/mixed.vob", &added);
  std::vector<std::string> texts;
  for (const AudioTrackEntry& e : p.entries()) texts.push_back(track_list_text(e));
  EXPECT_EQ(texts, (std::vector<std::string>{"[0:10] (1) three.mpg", "[0:10] (2) three.mpg", "[0:10] (3) three.mpg",
                                             "[0:10] (1) two.ts", "[0:10] (2) two.ts", "[0:10] (1) mixed.vob",
                                             "[0:10] (2) mixed.vob"}));
  EXPECT_EQ(p.entries()[4].pid, 0x45);
  // Each entry opens its own stream.
  ASSERT_EQ(p.OpenPlayTrack(4, false, true), 1);
  EXPECT_EQ(static_cast<FakeTrack*>(p.track())->id_, 0xC0);
  EXPECT_EQ(static_cast<FakeTrack*>(p.track())->pid_, 0x45);
  EXPECT_EQ(p.display_text(), "(2) two.ts");
}

TEST_F(PlayerTest, ListTextsAndSameTrackRule) {
  AudioTrackEntry e;
  e.path = "/a/b/song.mp2";
  e.duration = 3725;
  EXPECT_EQ(track_list_text(e), "[1:02:05]  song.mp2");
  e.label = "Song";
  e.duration = 65;
  EXPECT_EQ(track_list_text(e), "[1:05]  Song");
  EXPECT_EQ(track_list_text(AudioTrackEntry{}), "");
  AudioTrackEntry a, b;
  a.path = b.path = "/x.mpg";
  a.stream_id = 0xC0;
  b.stream_id = 0;
  EXPECT_TRUE(same_track(a, b));
  b.stream_id = 0xC1;
  EXPECT_FALSE(same_track(a, b));
  b.path = "/X.mpg";
  b.stream_id = 0xC0;
  EXPECT_FALSE(same_track(a, b));
}

TEST_F(PlayerTest, FramesWrittenPerTickFollowTheRate) {
  struct Case {
    int rate, frames;
  };
  for (const Case c : {Case{44100, 5}, Case{48000, 5}, Case{32000, 4}}) {
    SCOPED_TRACE(c.rate);
    FakeTrackSpec s;
    s.rate = c.rate;
    s.length = 20;
    files.files["/t.mp2"] = s;
    AudioPlayer p(files.deps(&fake.clock));
    p.OpenTrack("/t.mp2");
    p.StopPlay();
    const int frame = 1152 * 4;
    auto* sink = static_cast<FakeAudioSink*>(p.sink());
    // A full ring takes nothing.
    EXPECT_EQ(p.FeedSound(), 0);
    // With room and more than 0.1 s queued: n + 1 frames.
    p.output()->play();
    sink->advance(c.rate * 4);
    EXPECT_EQ(p.FeedSound(), c.frames * frame);
    // Under 0.1 s queued: one more.
    p.Seek(0);
    p.output()->write(std::vector<uint8_t>(size_t(frame)).data(), frame);
    EXPECT_EQ(p.FeedSound(), (c.frames + 1) * frame);
    // Little room: the ring counts free space only above its 0.1 s
    // threshold, so this leaves room for two frames.
    p.Seek(0);
    const int room = p.output()->get_free_space();
    std::vector<uint8_t> fill(size_t(room - p.output()->threshold() - frame - 16));
    p.output()->write(fill.data(), int(fill.size()));
    EXPECT_EQ(p.FeedSound(), 2 * frame);
  }
}

TEST_F(PlayerTest, TrackEndFollowsTheLoopMode) {
  for (const char* f : {"/1.mp2", "/2.mp2", "/3.mp2"}) files.files[f] = FakeTrackSpec{44100, 2, 3.0};
  struct Case {
    LoopMode mode;
    int entries;
    std::vector<int> order;  // indexes after each track end, -1 stopped
  };
  const Case cases[] = {
      {LoopMode::None, 1, {-1}},        {LoopMode::One, 1, {0, 0}},       {LoopMode::All, 1, {0, 0}},
      {LoopMode::Random, 1, {0}},       {LoopMode::None, 3, {2, -1}},     {LoopMode::One, 3, {0, 0}},
      {LoopMode::All, 3, {2, 0, 2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mode) * 10 + c.entries);
    AudioPlayer p(files.deps(&fake.clock));
    const std::vector<std::string> names{"/1.mp2", "/2.mp2", "/3.mp2"};
    for (int i = 0; i < c.entries; ++i) p.AddFileToPlayList(names[size_t(i)], nullptr);
    if (c.entries == 3) p.SetPlayFlag(1, 0);
    p.set_loop(c.mode);
    ASSERT_EQ(p.OpenPlayTrack(0, true, false), 1);
    std::vector<int> got;
    for (size_t k = 0; k < c.order.size(); ++k) {
      if (c.order[k] == 0 && c.entries == 1) {
        // The one entry starts again from 0: the slider goes back.
        for (int i = 0; i < 400 && p.slider() < 900; ++i) tick(p, fake.clock);
        for (int i = 0; i < 400 && p.slider() >= 900; ++i) tick(p, fake.clock);
        got.push_back(p.playing() ? p.current() : -1);
      } else if (c.mode == LoopMode::One) {
        for (int i = 0; i < 400 && p.slider() < 900; ++i) tick(p, fake.clock);
        for (int i = 0; i < 400 && p.slider() >= 900; ++i) tick(p, fake.clock);
        got.push_back(p.current());
      } else {
        got.push_back(play_to_next(p));
      }
    }
    EXPECT_EQ(got, c.order);
    if (c.mode == LoopMode::None && c.entries == 3) {
      // Play begins again at the first ticked entry.
      EXPECT_EQ(p.slider(), 1000);
      p.StartPlay();
      EXPECT_TRUE(p.playing());
      EXPECT_EQ(p.current(), 0);
      EXPECT_EQ(p.slider(), 0);
    }
  }
}

TEST_F(PlayerTest, ShuffleNeverRepeatsAndAlternatesWithTwo) {
  for (const char* f : {"/1.mp2", "/2.mp2", "/3.mp2"}) files.files[f] = FakeTrackSpec{44100, 2, 1.0};
  // A glibc-wide generator would break the formula; ours is 15 bits.
  int state = 7;
  Random15 rnd = [&state] {
    state = (state * 1103 + 12345) % 32768;
    return state;
  };
  std::vector<AudioTrackEntry> three(3), two(2);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 200; ++i) EXPECT_NE(next_track_index(three, c, LoopMode::Random, rnd), c);
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < 200; ++i) EXPECT_EQ(next_track_index(two, c, LoopMode::Random, rnd), 1 - c);
  // The ends of the generator's range.
  for (int v : {0, 32767}) {
    Random15 fixed = [v] { return v; };
    for (int c = 0; c < 3; ++c) EXPECT_NE(next_track_index(three, c, LoopMode::Random, fixed), c);
  }
  AudioPlayer p(files.deps(&fake.clock, rnd));
  p.AddFileToPlayList("/1.mp2", nullptr);
  p.AddFileToPlayList("/2.mp2", nullptr);
  p.set_loop(LoopMode::Random);
  p.OpenPlayTrack(0, true, false);
  EXPECT_EQ(play_to_next(p), 1);
  EXPECT_EQ(play_to_next(p), 0);
  EXPECT_EQ(play_to_next(p), 1);
}

TEST_F(PlayerTest, ARateChangeReopensTheOutput) {
  files.files["/a.mp2"] = FakeTrackSpec{44100, 2, 1.0};
  files.files["/b.mp2"] = FakeTrackSpec{32000, 2, 1.0};
  AudioPlayer p(files.deps(&fake.clock));
  p.AddFileToPlayList("/a.mp2", nullptr);
  p.AddFileToPlayList("/b.mp2", nullptr);
  p.set_loop(LoopMode::None);
  p.OpenPlayTrack(0, true, false);
  EXPECT_EQ(static_cast<FakeAudioSink*>(p.sink())->rate(), 44100);
  EXPECT_EQ(play_to_next(p), 1);
  EXPECT_EQ(static_cast<FakeAudioSink*>(p.sink())->rate(), 32000);
  EXPECT_TRUE(p.playing());
}

TEST_F(PlayerTest, SegmentRepeatsAndShortMarksAreRefused) {
  files.files["/s.mp2"] = FakeTrackSpec{48000, 2, 10.0};
  AudioPlayer p(files.deps(&fake.clock));
  p.OpenTrack("/s.mp2");
  p.StopPlay();
  p.Seek(100);
  p.MarkButton();
  EXPECT_EQ(p.mark_state(), 1);
  EXPECT_EQ(p.status_text(), "MarkIn");
  p.Seek(299);  // 1.99 s away
  p.MarkButton();
  EXPECT_EQ(p.mark_state(), 1);
  p.Seek(400);
  p.MarkButton();
  EXPECT_EQ(p.mark_state(), 2);
  EXPECT_EQ(p.loop(), LoopMode::One);
  EXPECT_EQ(p.status_text(), "Segment");
  p.Seek(100);
  p.StartPlay();
  int repeats = 0, last = 0;
  for (int i = 0; i < 200; ++i) {
    tick(p, fake.clock);
    EXPECT_GE(p.slider(), 100);
    EXPECT_LE(p.slider(), 400);
    if (p.slider() < last) ++repeats;
    last = p.slider();
  }
  EXPECT_GE(repeats, 4);
  EXPECT_TRUE(p.playing());
  // Leaving the segment by a seek ends it and gives the loop mode back.
  p.Seek(700);
  EXPECT_EQ(p.mark_state(), 0);
  EXPECT_EQ(p.loop(), LoopMode::All);
}

TEST_F(PlayerTest, TimeRecordRoundsAndCarries) {
  struct Case {
    double t;
    TimeRecord r;
    const char* text;
  };
  const Case cases[] = {
      {0.0, {0, 0, 0, 0}, "0:00:00"},
      {59.99, {0, 1, 0, 0}, "0:01:00"},  // 29.67 frames round to 30: one second on
      {3599.5, {0, 59, 59, 15}, "1:00:00"},
      {86399.0, {23, 59, 59, 0}, "23:59:59"},
      {86400.0, {0, 0, 0, 0}, "0:00:00"},
      {61.4, {0, 1, 1, 12}, "0:01:01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    const TimeRecord r = TimeRecord::from_seconds(c.t);
    EXPECT_EQ(r, c.r);
    EXPECT_EQ(r.text(), c.text);
  }
  EXPECT_NEAR(TimeRecord({1, 2, 3, 15}).to_seconds(), 3723 + 15 / TimeRecord::kRate, 1e-9);
}

TEST_F(PlayerTest, OneChannelStaysSelected) {
  AudioPlayer p(files.deps(&fake.clock));
  p.ToggleRight();
  EXPECT_EQ(p.channels(), 1);
  EXPECT_EQ(audio_channel_right.load(), 0);
  p.ToggleLeft();  // both would go: right comes back
  EXPECT_EQ(p.channels(), 2);
  EXPECT_EQ(audio_channel_left.load(), 0);
  EXPECT_EQ(audio_channel_right.load(), 1);
}

TEST_F(PlayerTest, AFileWithoutSoundIsReportedAndRemoved) {
  files.files["/good.mp2"] = FakeTrackSpec{};
  FakeTrackSpec bad;
  bad.opens = false;
  files.files["/bad.mp2"] = bad;
  AudioPlayer p(files.deps(&fake.clock));
  p.OpenTrack("/good.mp2");
  ASSERT_TRUE(p.has_track());
  {
    // Added: reported, removed, the playing track kept.
    p.AddTracks({"/bad.mp2"});
    EXPECT_EQ(fake.prompter.last_text(), "File:\n      </bad.mp2>:\n   has no sound or data error found\n\n");
    EXPECT_EQ(p.entries().size(), 1u);
    EXPECT_EQ(p.current(), 0);
    EXPECT_TRUE(p.playing());
  }
  // Listed already: a question; No keeps the entry.
  AudioTrackEntry e;
  e.path = "/bad.mp2";
  e.duration = 10;
  ASSERT_TRUE(p.AppendEntry(e));
  fake.prompter.answers = {PromptAnswer::No, PromptAnswer::Yes};
  EXPECT_EQ(p.OpenPlayTrack(1, true, false), 0);
  EXPECT_EQ(fake.prompter.shown.back().buttons, PromptButtons::YesNo);
  EXPECT_EQ(p.entries().size(), 2u);
  EXPECT_EQ(p.OpenPlayTrack(1, true, false), 0);
  EXPECT_EQ(p.entries().size(), 1u);
  EXPECT_EQ(p.current(), 0);
  EXPECT_TRUE(p.has_track());
  // A file with no audio stream adds nothing and says so.
  p.OpenTrack("/none.mpg");
  EXPECT_EQ(p.entries().size(), 1u);
  EXPECT_EQ(fake.prompter.last_text(), "File:\n      </none.mpg>:\n   has no sound or data error found\n\n");
}

TEST_F(PlayerTest, WithoutASoundDeviceTheTimeStillRuns) {
  files.files["/t.mp2"] = FakeTrackSpec{44100, 2, 5.0};
  AudioPlayer::Deps d = files.deps(&fake.clock);
  d.make_sink = [] { return std::unique_ptr<AudioSink>(); };
  AudioPlayer p(std::move(d));
  p.OpenTrack("/t.mp2");
  EXPECT_TRUE(p.playing());
  EXPECT_EQ(p.output(), nullptr);
  EXPECT_EQ(p.FeedSound(), 0);
  EXPECT_EQ(p.index_text(), "1/1");
  for (int i = 0; i < 25; ++i) tick(p, fake.clock);
  EXPECT_EQ(p.time().text(), "0:00:02");
  EXPECT_NEAR(p.slider(), 500, 20);  // the tick reads the time before it feeds
}

}  // namespace
