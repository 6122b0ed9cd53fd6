#include "app/audio/lyrics_editor.h"

#include <gtest/gtest.h>

namespace {

TEST(LyricsEditor, AddReplaceAndInvalidTimes) {
  LyricsEditorModel m;
  int at = -1;
  std::string tt;
  EXPECT_EQ(m.add("", "", &at, &tt), LyricsEditorModel::Result::Nothing);
  EXPECT_EQ(m.add("", "first", &at, &tt), LyricsEditorModel::Result::Added);  // empty time: 0
  EXPECT_EQ(tt, "0:00");
  EXPECT_EQ(m.add("1:05", "second", &at, &tt), LyricsEditorModel::Result::Added);
  EXPECT_EQ(m.add("", "third", &at, &tt), LyricsEditorModel::Result::Added);  // last + 3 s
  EXPECT_EQ(tt, "1:08");
  EXPECT_EQ(m.add("0:30", "between", &at, &tt), LyricsEditorModel::Result::Added);
  EXPECT_EQ(at, 1);  // sorted by time
  EXPECT_EQ(m.add("1:75", "x", &at, &tt), LyricsEditorModel::Result::Invalid);
  EXPECT_EQ(m.add("65", "other", &at, &tt), LyricsEditorModel::Result::Updated);  // same time: kept
  EXPECT_EQ(m.lines()[2].text, "second");
  // Replace: an invalid time changes nothing; a valid one moves the line.
  EXPECT_EQ(m.replace(0, "99:99", "changed"), LyricsEditorModel::Result::Invalid);
  EXPECT_EQ(m.lines()[0].text, "first");
  EXPECT_EQ(m.replace(0, "2:00", ""), LyricsEditorModel::Result::Updated);
  EXPECT_EQ(m.lines().back().time, 120);
  EXPECT_EQ(m.lines().back().text, "first");
  EXPECT_TRUE(m.modified());
  m.remove({0, 1});
  EXPECT_EQ(m.lines().size(), 2u);
  EXPECT_EQ(m.to_list().format().find("SorvaneLyrics:   68 third\n") != std::string::npos, true);
}

}  // namespace
