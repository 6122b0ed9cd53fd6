// tamsel-dev cliplist: script operations, their record lines, refusals that
// change nothing, and file names with spaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace {

using tsupport::field_int;

struct Step {
  std::string op;
  std::vector<std::string> lines;  // everything printed after the op line
};

std::vector<Step> run_script(const std::string& dir, const std::string& script) {
  const std::string path = dir + "/ops.txt";
  EXPECT_TRUE(tsupport::write_file(path, std::vector<uint8_t>(script.begin(), script.end())));
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("cliplist --script " + tsupport::sh_quote(path), &lines), 0);
  std::vector<Step> steps;
  for (const std::string& l : lines) {
    if (l.rfind("op ", 0) == 0) steps.push_back(Step{l, {}});
    else if (!steps.empty()) steps.back().lines.push_back(l);
  }
  return steps;
}

std::vector<std::string> records_of(const Step& s) {
  std::vector<std::string> r;
  for (const std::string& l : s.lines)
    if (l.rfind("clip ", 0) == 0 || l.rfind("overlay ", 0) == 0 || l.rfind("total ", 0) == 0) r.push_back(l);
  return r;
}

TEST(CliplistCommand, ScriptOperations) {
  const std::string dir = tsupport::temp_dir();
  const std::string movie = dir + "/my movie.m2v";
  ASSERT_TRUE(tsupport::write_file(movie, tsupport::read_file(tsupport::fixture("fa_sd.m2v"))));
  const std::string m1 = tsupport::fixture("st_m1.m1v");
  const std::string script = "open " + movie + " 10 100\n" +
                             "open " + m1 + "\n" +
                             "transition 100 4 10\n" +
                             "overlay 8 20 30\n" +
                             "copy 95 20\n" +
                             "cut -5 3\n" +
                             "paste 0\n" +
                             "save " + dir + "/saved list.qme\n" +
                             "load " + dir + "/saved list.qme\n" +
                             "open " + dir + "/missing file.m2v\n" +
                             "gain 0 1 2 0.5\n" +
                             "project-save " + dir + "/p.qme\n" +
                             "project-load " + dir + "/p.qme\n" +
                             "rec-save " + dir + "/job.rec\n" +
                             "rec-load " + dir + "/job.rec\n";
  const std::vector<Step> s = run_script(dir, script);
  ASSERT_EQ(s.size(), 15u);
  for (size_t i = 0; i < s.size(); ++i) {
    SCOPED_TRACE(s[i].op);
    EXPECT_EQ(field_int(s[i].op, "n"), long(i));
    const bool refused = i == 5 || i == 9;
    EXPECT_EQ(field_int(s[i].op, "result"), refused ? 0 : 1);
  }
  const auto first = records_of(s[0]);
  ASSERT_EQ(first.size(), 2u);
  // file= is last on its line: the rest of the line, spaces and all.
  EXPECT_EQ(first[0].substr(first[0].find(" file=") + 6), movie);
  EXPECT_EQ(field_int(first[0], "start"), 10);
  EXPECT_EQ(field_int(first[0], "count"), 100);
  EXPECT_EQ(first[1], "total clips=1 frames=100");
  EXPECT_EQ(records_of(s[2]).back(), "total clips=2 frames=165");
  EXPECT_EQ(s[4].lines[0], "clipboard clips=2 frames=20");
  // Refusals leave the list as it was.
  EXPECT_EQ(records_of(s[5]), records_of(s[4]));
  EXPECT_EQ(records_of(s[9]), records_of(s[8]));
  EXPECT_EQ(records_of(s[6]).back(), "total clips=4 frames=185");
  EXPECT_EQ(records_of(s[8]), records_of(s[7]));
  EXPECT_EQ(s[12].lines[0], "gain points=2");
  EXPECT_EQ(records_of(s[12]), records_of(s[11]));
  EXPECT_EQ(s[14].lines[0], "gain points=2");
  EXPECT_EQ(field_int(s[14].lines[1], "width"), 720);
  EXPECT_EQ(records_of(s[14]).back(), records_of(s[13]).back());
}

TEST(CliplistCommand, UnknownOperationIsAUsageError) {
  const std::string dir = tsupport::temp_dir();
  const std::string path = dir + "/ops.txt";
  const std::string text = "frobnicate 1 2\n";
  ASSERT_TRUE(tsupport::write_file(path, std::vector<uint8_t>(text.begin(), text.end())));
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("cliplist --script " + tsupport::sh_quote(path), &lines), 2);
  EXPECT_EQ(tsupport::dev("cliplist", &lines), 2);
}

}  // namespace
