#include "app/audio/lyrics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "app/shell/kept_file.h"
#include "tests/app/audio/fake_track.h"

namespace {

TEST(Lyrics, FileRoundTripAndDamagedLines) {
  FakePlatform fake;
  LyricsList l;
  l.append("first line", 0);
  l.append("second  two words", 65);
  const std::string file = fake.paths.temp + "/a.lyr";
  ASSERT_EQ(l.write(file), 2);
  std::string text;
  ASSERT_TRUE(read_kept_file(file, &text));
  EXPECT_EQ(text,
            "#\n# Quarvel Sorvane Caption Text\n#\nSorvaneLyrics:    0 first line\nSorvaneLyrics:   65 second  two "
            "words\n#\n# total: 2 lines\n#\n");
  LyricsList back;
  EXPECT_EQ(back.read(file), 2);
  EXPECT_EQ(back.lines()[1].text, "second  two words");
  EXPECT_EQ(back.lines()[1].words, 3);
  // No text reads as one blank; a negative time ends the reading; CRLF.
  LyricsList d;
  EXPECT_EQ(d.read_text("SorvaneLyrics: 5\r\nOther: 3 x\nSorvaneLyrics: x\nSorvaneLyrics: 9 nine \r\n"
                        "SorvaneLyrics: -1 gone\nSorvaneLyrics: 12 after\n"),
            2);
  EXPECT_EQ(d.lines()[0].text, " ");
  EXPECT_EQ(d.lines()[1].text, "nine");
  // A text without lines leaves the list as it was; an empty list writes no file.
  EXPECT_EQ(d.read_text("# nothing\n"), 2);
  EXPECT_EQ(LyricsList().write(fake.paths.temp + "/none.lyr"), 0);
  struct stat st;
  EXPECT_NE(::stat((fake.paths.temp + "/none.lyr").c_str(), &st), 0);
}

TEST(Lyrics, SeekFindsTheLineFromTheCursor) {
  LyricsList l;
  for (int t : {0, 10, 20, 30}) l.append("l" + std::to_string(t), t);
  struct Case {
    int t, time;
  };
  for (const Case c : {Case{15, 10}, Case{30, 30}, Case{99, 30}, Case{5, 0}, Case{20, 20}, Case{19, 10}}) {
    EXPECT_EQ(l.seek(c.t), c.time) << c.t;
  }
  // Out of order: kept as read; the rule runs on from the cursor past
  // every next line not after t.
  LyricsList o;
  for (int t : {0, 30, 10, 40}) o.append("x", t);
  EXPECT_EQ(o.seek(35), 10);
  EXPECT_EQ(o.cursor(), 2);
}

TEST(Lyrics, TimeEntries) {
  struct Case {
    const char* entry;
    int offset, seconds;
    const char* text;
  };
  const Case cases[] = {{"75", 0, 75, "1:15"},        {"1:75", 0, -1, ""},      {"0:60", 0, 60, "1:00"},
                        {"1:05", 3, 68, "1:08"},      {"1:02:03", 0, 3723, "1:02:03"}, {"25:00:00", 0, -1, ""},
                        {"1:2:3:4", 0, -1, ""},       {"", 0, -1, ""},          {"::", 0, -1, ""},
                        {"1a", 0, -1, ""},            {"99999999999999999999", 0, -1, ""}};
  for (const Case& c : cases) {
    std::string text;
    EXPECT_EQ(parse_lyric_time(c.entry, c.offset, &text), c.seconds) << c.entry;
    if (c.seconds >= 0) EXPECT_EQ(text, c.text) << c.entry;
  }
}

TEST(Lyrics, TheWindowShowsTheLineOfThePlayTime) {
  FakePlatform fake;
  FakeFiles files;
  files.files["/t.mp2"] = FakeTrackSpec{44100, 2, 10.0};
  AudioPlayer p(files.deps(&fake.clock));
  p.OpenTrack("/t.mp2");
  p.StopPlay();
  const std::string file = fake.paths.temp + "/t.lyr";
  std::ofstream(file) << "SorvaneLyrics: 0 one\nSorvaneLyrics: 3 two\nSorvaneLyrics: 6 three\n";
  EXPECT_EQ(p.LoadLyricsText(fake.paths.temp + "/missing.lyr"), 0);
  EXPECT_EQ(fake.prompter.last_text(), "<" + fake.paths.temp + "/missing.lyr>: Not a valid lyrics file");
  EXPECT_EQ(p.LoadLyricsText(file), 3);
  EXPECT_EQ(p.lyric_line(), "one");
  EXPECT_EQ(p.entries()[0].lyrics, file);
  p.Seek(650);
  EXPECT_EQ(p.lyric_line(), "three");
  p.Seek(0);
  p.StartPlay();
  for (int i = 0; i < 40; ++i) tick(p, fake.clock);
  EXPECT_EQ(p.lyric_line(), "two");
}

}  // namespace
