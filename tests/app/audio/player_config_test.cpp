#include "app/audio/player_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/shell/kept_file.h"
#include "tests/app/audio/fake_track.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

struct ConfigTest : ::testing::Test {
  FakePlatform fake;
  FakeFiles files;
  std::string media;  // a real file, so that entries validate
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    audio_volume = 40;
    media = fake.paths.temp + "/tone.mp2";
    std::ofstream(media) << "x";
    FakeTrackSpec s;
    s.ids = {0xC0, 0xC1};
    s.pids = {0x44, 0x45};
    s.length = 65.4;
    files.files[media] = s;
  }
};

TEST_F(ConfigTest, WritesTheConfigurationAsTheReadersExpect) {
  PlayerConfig c;
  c.track_index = 1;
  c.position = 250;
  c.loop = 3;
  c.loop_player = 2;
  c.mark_state = 2;
  c.mark_start = 100;
  c.mark_end = 400;
  c.init_path = "/music";
  c.insert_path = "/ins";
  c.insert_scale[0] = 2;
  c.insert_scale[1] = 5;
  c.left = 10;
  c.top = 20;
  c.right = 470;
  c.bottom = 440;
  c.volume = 60;
  AudioTrackEntry a;
  a.path = "/music/a.mp2";
  a.label = "A";
  a.duration = 65;
  a.stream_id = 0xC1;
  AudioTrackEntry b = a;
  b.label = "";
  b.stream_id = 0xC0;
  b.pid = 0x45;
  b.play = 0;
  b.lyrics = "/music/a.lyr";
  EqualizerSelection eq;
  eq.gains[0] = 24;
  eq.gains[32 + 31] = 0;
  eq.preamp = 18;
  const std::string text = format_player_config(c, {a, b}, eq, 1765000000);
  const std::string want =
      "#\n# Quarvel MPEG Audio Player Configuration File\n# Sat Dec  6 05:46:40 2025\n#\n"
      "SorvanePlayTrack:  1 250\nSorvaneEditor:  0\nSorvaneLoop:  3\nSorvaneLoopPlayer:  2\n"
      "SorvaneMark:  2 100 400\nSorvaneInitPath:  /music\nSorvaneInitInsertPath:  /ins\n"
      "SorvaneInitInsertScale:  2 5 \nSorvaneWindow:  20 440 10 470\nSorvanePlayVolume:  60\n"
      "#\nSorvaneTrack:\nSorvaneTrackPath: /music/a.mp2\nSorvaneTrackLabel: A\nSorvaneTrackData: 65 193 1\n"
      "SorvaneTrack:\nSorvaneTrackPath: /music/a.mp2\nSorvaneTrackLabel: \nSorvaneTrackData: 65 192 0 69\n"
      "SorvaneTrackLyrics: /music/a.lyr\n#\n# selected equalizer:\nSorvaneEqualizer:\n"
      "      24  12   12  12   12  12   12  12   12  12   12  12   12  12   12  12 \n"
      "      12  12   12  12   12  12   12  12   12  12   12  12   12  12   12  12 \n"
      "      12  12   12  12   12  12   12  12   12  12   12  12   12  12   12  12 \n"
      "      12  12   12  12   12  12   12  12   12  12   12  12   12  12   12   0 \n"
      "      18\n";
  EXPECT_EQ(text, want);
  // Read back: both entries (the PID kept), the equalizer, the settings.
  const TrackListRead r = parse_track_list(text, nullptr);
  ASSERT_EQ(r.entries.size(), 2u);
  EXPECT_EQ(r.entries[1].pid, 0x45);
  EXPECT_EQ(r.entries[1].lyrics, "/music/a.lyr");
  EXPECT_EQ(r.entries[0].label, "A");
  EXPECT_TRUE(r.equalizer_read);
  EXPECT_EQ(r.equalizer, eq);
  PlayerConfig back = parse_player_config(text);
  EXPECT_EQ(back.mark_start, 100);
  EXPECT_EQ(back.insert_scale[1], 5);
  EXPECT_TRUE(back.window_read);
  EXPECT_EQ(back.right, 470);
  EXPECT_EQ(back.volume, 60);
  // Without entries only the header, folders, window and volume.
  EXPECT_EQ(format_player_config(PlayerConfig{}, {}, eq, 1765000000),
            "#\n# Quarvel MPEG Audio Player Configuration File\n# Sat Dec  6 05:46:40 2025\n#\n"
            "SorvaneWindow:  0 0 0 0\nSorvanePlayVolume:  0\n");
}

TEST_F(ConfigTest, SettingsEdgeCases) {
  struct Case {
    const char* text;
    int state, start, end, position;
  };
  const Case cases[] = {
      {"SorvaneMark:  2 600 400\r\nSorvanePlayTrack:  0 50\r\n", 0, 0, 1000, 50},
      {"SorvaneMark:  2 100 400\nSorvanePlayTrack:  0 50\n", 2, 100, 400, 100},
      {"SorvaneMark:  2 100 400\nSorvanePlayTrack:  0 900\n", 2, 100, 400, 400},
      {"SorvaneMark:  3 100 400\n", 0, 0, 1000, 0},
      {"SorvaneMark:  2 100\n", 0, 0, 1000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PlayerConfig p = parse_player_config(c.text);
    settle_player_config(&p, 1);
    EXPECT_EQ(p.mark_state, c.state);
    EXPECT_EQ(p.mark_start, c.start);
    EXPECT_EQ(p.mark_end, c.end);
    EXPECT_EQ(p.position, c.position);
  }
  PlayerConfig p = parse_player_config("SorvanePlayVolume:  81\nSorvaneInitPath:   /a b/c \r\n# SorvaneLoop: 1\n");
  EXPECT_EQ(p.volume, -1);
  EXPECT_EQ(p.init_path, "/a b/c");
  EXPECT_EQ(p.loop, 2);
  // A folder longer than any old buffer is kept whole.
  const std::string longer(600, 'd');
  EXPECT_EQ(parse_player_config("SorvaneInitSavePath: /" + longer + "\n").save_path, "/" + longer);
  // Index: kept in range, else the first entry.
  p = parse_player_config("SorvanePlayTrack:  5 0\n");
  settle_player_config(&p, 3);
  EXPECT_EQ(p.track_index, 0);
}

TEST_F(ConfigTest, PlayListEntriesAreValidatedOneByOne) {
  const std::string text =
      "SorvaneTrack:\nSorvaneTrackPath: /a\nSorvaneTrackLabel: A\nSorvaneTrackData: 3600 0 1\n"  // an hour: kept
      "SorvaneTrack:\nSorvaneTrackPath: /b\nSorvaneTrackLabel: B\nSorvaneTrackData: 10 191 1\n"  // 0xBF: no audio id
      "SorvaneTrack:\nSorvaneTrackPath: /c\nSorvaneTrackLabel: C\nSorvaneTrackData: 10 128 1\n"  // AC-3 sub-stream
      "SorvaneTrack:\nSorvaneTrackPath: /missing\nSorvaneTrackLabel: M\nSorvaneTrackData: 10 0 1\n"
      "SorvaneTrack:\nSorvaneTrackPath: /d\nSorvaneTrackData: 10 0 1\n"  // no label line
      "SorvaneTrack:\nSorvaneTrackPath: /e\nSorvaneTrackLabel: E\nSorvaneTrackData: 10 0 2\n"
      "SorvaneTrack:\nSorvaneTrackPath: /f\nSorvaneTrackLabel: F\nSorvaneTrackData: 10 0\n"
      "SorvaneTrack:\nSorvaneTrackPath: /a\nSorvaneTrackLabel: again\nSorvaneTrackData: 10 0 1\n"  // listed
      "SorvaneTrack:\nSorvaneTrackPath: /g\nSorvaneTrackLabel: G\nSorvaneTrackData: 10 0 0\n"  // last, no lyrics
      "SorvaneEqualizer:\n 30 12\n";
  const TrackListRead r = parse_track_list(text, [](const std::string& p) { return p != "/missing"; });
  std::vector<std::string> paths;
  for (const AudioTrackEntry& e : r.entries) paths.push_back(e.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"/a", "/c", "/g"}));
  EXPECT_EQ(r.entries[0].duration, 3600);
  EXPECT_EQ(r.entries[2].play, 0);
  EXPECT_FALSE(r.equalizer_read);
  // One value out of range: the whole block is ignored.
  std::string eq = "SorvaneEqualizer:";
  for (int i = 0; i < 64; ++i) eq += i == 9 ? " 30" : " 12";
  eq += "\n 12\n";
  EXPECT_FALSE(parse_track_list(eq, nullptr).equalizer_read);
}

TEST_F(ConfigTest, TheWindowStateSurvivesARestart) {
  {
    AudioPlayer p(files.deps(&fake.clock));
    p.OpenTrack(media);
    p.set_loop(LoopMode::Random);
    p.Seek(100);
    p.MarkButton();
    p.Seek(400);
    p.MarkButton();
    p.Seek(250);
    p.SetVolume(55);
    p.SetPlayFlag(0, 0);
    p.equalizer.gains[3] = 20;
    p.StopPlay();
    ASSERT_TRUE(p.SaveConfig({10, 20, 300, 400}, 1765000000));
  }
  AudioPlayer p(files.deps(&fake.clock));
  const PlayerConfig c = p.LoadConfig();
  ASSERT_EQ(p.entries().size(), 2u);
  EXPECT_EQ(p.entries()[1].pid, 0x45);
  EXPECT_EQ(track_list_text(p.entries()[1]), "[1:05] (2) tone.mp2");
  EXPECT_EQ(p.entries()[0].play, 0);
  EXPECT_EQ(p.current(), 1);
  EXPECT_TRUE(p.has_track());
  EXPECT_FALSE(p.playing());
  EXPECT_EQ(p.mark_state(), 2);
  EXPECT_EQ(p.mark_start(), 100);
  EXPECT_EQ(p.mark_end(), 400);
  EXPECT_EQ(p.slider(), 250);
  EXPECT_EQ(p.loop(), LoopMode::One);
  EXPECT_EQ(p.segment_saved_loop(), LoopMode::Random);
  EXPECT_EQ(p.volume(), 55);
  EXPECT_EQ(p.equalizer.gains[3], 20);
  EXPECT_TRUE(c.window_read);
  EXPECT_EQ(c.right, 300);
}

TEST_F(ConfigTest, AFolderThatRefusesWritingKeepsTheOldList) {
  AudioPlayer p(files.deps(&fake.clock));
  p.OpenTrack(media);
  EXPECT_EQ(p.WriteTrackList(fake.paths.temp + "/no/such/folder.als"), 0);
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes through file permissions";
  const std::string dir = fake.paths.temp + "/ro";
  ::mkdir(dir.c_str(), 0755);
  const std::string list = dir + "/list.als";
  ASSERT_EQ(p.WriteTrackList(list), 2);
  const std::string before = slurp(list);
  ::chmod(dir.c_str(), 0555);
  p.ClearList();
  EXPECT_EQ(p.WriteTrackList(list), 0);
  ::chmod(dir.c_str(), 0755);
  EXPECT_EQ(slurp(list), before);
}

TEST_F(ConfigTest, ReadingAListWithoutValidEntriesKeepsTheList) {
  AudioPlayer p(files.deps(&fake.clock));
  p.OpenTrack(media);
  const std::string bad = fake.paths.temp + "/bad.als";
  std::ofstream(bad) << "#\nSorvaneTrack:\nSorvaneTrackPath: /nowhere\nSorvaneTrackLabel: x\nSorvaneTrackData: 1 0 1\n";
  EXPECT_EQ(p.ReadTrackList(bad), 0);
  EXPECT_EQ(p.entries().size(), 2u);
  EXPECT_TRUE(p.has_track());
  EXPECT_EQ(p.ReadTrackList(fake.paths.temp + "/none.als"), 0);
}

}  // namespace
