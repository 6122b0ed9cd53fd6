// The streams and demux commands as a user meets them: their arguments,
// and refusal of files that carry no multiplex.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

namespace {

using namespace tsupport;

struct Result {
  int rc = -1;
  std::string out, err;
};

Result tool(const std::string& args) {
  Result r;
  const std::string err_path = temp_dir() + "/stderr";
  r.rc = run(sh_quote(dev_tool()) + " " + args + " 2>" + sh_quote(err_path), &r.out);
  const auto bytes = read_file(err_path);
  r.err.assign(bytes.begin(), bytes.end());
  return r;
}

bool has(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

TEST(StreamsDemuxArgs, UsageErrorsExitTwo) {
  const std::string f = sh_quote(fixture("m2c.m2v"));
  const std::string d = sh_quote(temp_dir());
  const struct {
    std::string args, says;
  } cases[] = {
      {"streams", "wrong number of arguments"},
      {"streams " + f + " --select-video", "--select-video needs ID[:PID]"},
      {"streams " + f + " --select-audio 0xC0:x", "is not ID[:PID]"},
      {"streams " + f + " --select-video 0x1E0", "is not ID[:PID]"},  // a stream id is one byte
      {"streams " + f + " --select-video 0xE0:8192", "is not ID[:PID]"},  // PIDs have 13 bits
      {"streams " + f + " --bogus", "unknown option"},
      {"demux " + f, "wrong number of arguments"},
      {"demux " + f + " " + d + " --only", "--only needs ID[:PID]"},
      {"demux " + f + " " + d + " --stop 40", "is not CODE@PERCENT"},
      {"demux " + f + " " + d + " --stop -1@140", "is not CODE@PERCENT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = tool(c.args);
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, c.says)) << r.err;
    EXPECT_TRUE(has(r.err, "usage: tamsel-dev ")) << r.err;
  }
}

TEST(StreamsDemuxArgs, ElementaryStreamsAreRefused) {
  for (const char* args : {"streams F", "demux F D"}) {
    std::string a = args;
    a.replace(a.find('F'), 1, sh_quote(fixture("m2c.m2v")));
    if (a.find(" D") != std::string::npos) a.replace(a.find(" D") + 1, 1, sh_quote(temp_dir()));
    SCOPED_TRACE(a);
    const Result r = tool(a);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, "not a program or transport stream")) << r.err;
  }
}

}  // namespace
