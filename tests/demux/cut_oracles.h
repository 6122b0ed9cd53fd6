// What the oracles say of a cut: decoded frames and error messages.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"

namespace cut_oracles {

// md5 of each decoded video frame, in display order.
inline std::vector<std::string> frame_md5s(const std::string& file) {
  std::string out;
  EXPECT_EQ(tsupport::run("ffmpeg -nostdin -v error -i " + tsupport::sh_quote(file) +
                              " -map 0:v -fps_mode passthrough -f framemd5 - 2>&1",
                          &out),
            0);
  std::vector<std::string> md5s;
  for (const auto& l : tsupport::split_lines(out)) {
    if (l.empty() || l[0] == '#') continue;
    md5s.push_back(l.substr(l.rfind(',') + 1));
  }
  return md5s;
}

// What ffprobe and a decode of the video print at -v error.
inline std::string oracle_errors(const std::string& file) {
  std::string a, b;
  tsupport::run("ffprobe -v error " + tsupport::sh_quote(file) + " 2>&1", &a);
  tsupport::run("ffmpeg -nostdin -v error -i " + tsupport::sh_quote(file) + " -map 0:v -f null - 2>&1", &b);
  return a + b;
}

// B pictures right after the first I picture of a GOP (coded order).
inline int leading_b(const std::string& types) {
  int n = 0;
  for (size_t i = types.find('I') + 1; i < types.size() && types[i] == 'B'; ++i) ++n;
  return n;
}

}  // namespace cut_oracles
