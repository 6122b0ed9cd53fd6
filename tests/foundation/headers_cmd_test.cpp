// tamsel-dev headers against the oracles: ffprobe's stream and frame view
// (sequence fields, picture types and field flags in coded order, GOP time
// codes) and ffmpeg's trace_headers (every header field of MPEG-2 streams).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "support/support.h"

using tsupport::field;
using tsupport::field_int;

namespace {

using Record = std::map<std::string, std::string>;

const char* const kVideoFixtures[] = {"m1c.m1v",    "m2c.m2v",    "cg.m2v", "m2v.m2v", "il_tff.m2v",
                                      "il_bff.m2v", "df.m2v",     "422.m2v", "hd.m2v",  "pd.m2v"};

// key=value pairs of one ffprobe compact line ("a=1|b=2").
Record compact_record(const std::string& line) {
  Record r;
  size_t at = 0;
  while (at <= line.size()) {
    size_t end = line.find('|', at);
    if (end == std::string::npos) end = line.size();
    const std::string part = line.substr(at, end - at);
    const size_t eq = part.find('=');
    if (eq != std::string::npos) r[part.substr(0, eq)] = part.substr(eq + 1);
    at = end + 1;
  }
  return r;
}

std::vector<std::string> run_lines(const std::string& cmd) {
  std::string out;
  EXPECT_EQ(tsupport::run(cmd, &out), 0) << cmd;
  return tsupport::split_lines(out);
}

struct Headers {
  std::vector<std::string> seq, gop, pic;
};

Headers our_headers(const std::string& path) {
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("headers " + tsupport::sh_quote(path), &lines), 0);
  Headers h;
  for (const auto& l : lines) {
    if (l.rfind("seq ", 0) == 0) h.seq.push_back(l);
    else if (l.rfind("gop ", 0) == 0) h.gop.push_back(l);
    else if (l.rfind("pic ", 0) == 0) h.pic.push_back(l);
    else ADD_FAILURE() << "unexpected line: " << l;
  }
  return h;
}

std::string reduced_ratio(long long a, long long b) {
  const long long g = std::gcd(a, b);
  return std::to_string(a / g) + ":" + std::to_string(b / g);
}

// "HH:MM:SS:FF" with ';' before the pictures for drop-frame, as ffprobe.
std::string ffprobe_time_code(const std::string& gop_line) {
  std::string tc = field(gop_line, "tc");
  if (field_int(gop_line, "drop") == 1) tc[8] = ';';
  return tc;
}

const char* frame_rate_text(int code) {
  static const char* const rates[] = {"",   "24000/1001", "24/1", "25/1",      "30000/1001",
                                      "30/1", "50/1",     "60000/1001", "60/1"};
  return code >= 1 && code <= 8 ? rates[code] : "";
}
const char* double_rate_text(int code) {
  static const char* const rates[] = {"",     "48000/1001", "48/1",  "50/1",       "60000/1001",
                                      "60/1", "100/1",      "120000/1001", "120/1"};
  return code >= 1 && code <= 8 ? rates[code] : "";
}

class HeadersOracle : public ::testing::TestWithParam<const char*> {};

TEST_P(HeadersOracle, SequenceFieldsMatchFfprobeStreams) {
  const std::string path = tsupport::fixture(GetParam());
  const Headers h = our_headers(path);
  ASSERT_FALSE(h.seq.empty());
  const std::string& s = h.seq.front();

  const auto lines = run_lines("ffprobe -v error -select_streams v:0 -show_streams -of compact " + tsupport::sh_quote(path));
  ASSERT_FALSE(lines.empty());
  Record st;
  for (const auto& l : lines) {
    Record r = compact_record(l);
    st.insert(r.begin(), r.end());
  }
  const long long w = field_int(s, "width"), hgt = field_int(s, "height");
  EXPECT_EQ(std::to_string(w), st["width"]);
  EXPECT_EQ(std::to_string(hgt), st["height"]);
  const bool mpeg2 = field_int(s, "mpeg2") == 1;
  EXPECT_EQ(mpeg2 ? "mpeg2video" : "mpeg1video", st["codec_name"]);
  EXPECT_EQ(field_int(s, "chroma") == 422 ? "yuv422p" : "yuv420p", st["pix_fmt"]);

  // Streams with repeated fields are given at twice the rate by ffprobe.
  const int code = static_cast<int>(field_int(s, "frame_rate_code"));
  const bool any_rff = std::any_of(h.pic.begin(), h.pic.end(), [](const std::string& p) { return field_int(p, "rff") == 1; });
  if (any_rff) {
    EXPECT_TRUE(st["r_frame_rate"] == frame_rate_text(code) || st["r_frame_rate"] == double_rate_text(code))
        << st["r_frame_rate"];
  } else {
    EXPECT_EQ(frame_rate_text(code), st["r_frame_rate"]);
  }

  const long long bit_rate = field_int(s, "bit_rate");
  const long long vbv = field_int(s, "vbv_size");
  const int aspect = static_cast<int>(field_int(s, "aspect"));
  if (mpeg2) {
    // The header's rate is the CPB maximum; 0 there means 0x3FFFF (VBR).
    const long long max_rate = std::stoll(st["max_bitrate"]);
    EXPECT_EQ(max_rate ? max_rate : 0x3FFFFLL * 400, bit_rate);
    EXPECT_EQ(std::to_string(vbv * 16384), st["buffer_size"]);
    const long long pl = field_int(s, "profile_level");
    EXPECT_EQ(std::to_string(pl & 15), st["level"]);
    const std::map<std::string, int> profiles = {{"High", 1}, {"Main", 4}, {"Simple", 5}, {"4:2:2", 8}};
    ASSERT_TRUE(profiles.count(st["profile"])) << st["profile"];
    EXPECT_EQ(profiles.at(st["profile"]), (pl >> 4) & 15);
    const std::map<int, std::string> dar = {{1, reduced_ratio(w, hgt)}, {2, "4:3"}, {3, "16:9"}};
    ASSERT_TRUE(dar.count(aspect)) << aspect;
    EXPECT_EQ(dar.at(aspect), st["display_aspect_ratio"]);
  } else {
    EXPECT_EQ(std::to_string(bit_rate), st["bit_rate"]);
    ASSERT_EQ(aspect, 1) << "only square pels are mapped here";
    EXPECT_EQ("1:1", st["sample_aspect_ratio"]);
  }
  const std::string order = st["field_order"];
  if (order == "tt" || order == "bb" || order == "tb" || order == "bt") {
    EXPECT_EQ(field_int(s, "progressive"), 0);
  }
}

TEST_P(HeadersOracle, PicturesAndTimeCodesMatchFfprobeFrames) {
  const std::string path = tsupport::fixture(GetParam());
  const Headers h = our_headers(path);
  const auto lines = run_lines(
      "ffprobe -v error -select_streams v:0 -show_frames -show_entries "
      "frame=coded_picture_number,pict_type,top_field_first,repeat_pict,interlaced_frame:frame_side_data=side_data_type,"
      "timecode -of compact " +
      tsupport::sh_quote(path));
  std::vector<Record> frames;
  std::vector<std::string> time_codes;
  for (const auto& l : lines) {
    Record r = compact_record(l);
    if (l.rfind("frame|", 0) == 0) frames.push_back(r);
    if (r["side_data_type"] == "GOP timecode") time_codes.push_back(r["timecode"]);
  }
  std::sort(frames.begin(), frames.end(), [](const Record& a, const Record& b) {
    return std::stoi(a.at("coded_picture_number")) < std::stoi(b.at("coded_picture_number"));
  });
  ASSERT_EQ(frames.size(), h.pic.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    const std::string& p = h.pic[i];
    Record& f = frames[i];
    SCOPED_TRACE(p);
    EXPECT_EQ(field(p, "type"), f["pict_type"]);
    EXPECT_EQ(field_int(p, "tff"), std::stoi(f["top_field_first"]));
    ASSERT_EQ(field_int(p, "structure"), 3);
    EXPECT_EQ(field_int(p, "fields") - 2, std::stoi(f["repeat_pict"]));
    EXPECT_EQ(field_int(p, "rff"), field_int(p, "fields") > 2 ? 1 : 0);
    EXPECT_EQ(field_int(p, "progressive_frame"), 1 - std::stoi(f["interlaced_frame"]));
  }
  ASSERT_EQ(time_codes.size(), h.gop.size());
  for (size_t i = 0; i < time_codes.size(); ++i) EXPECT_EQ(ffprobe_time_code(h.gop[i]), time_codes[i]) << h.gop[i];
}

// ffmpeg's trace_headers prints every syntax element (MPEG-2 only): name and
// value per line, headers in file order after the first "Packet:" line.
struct TraceHeader {
  std::string kind;
  Record fields;
};

std::vector<TraceHeader> trace_headers(const std::string& path) {
  std::string out;
  tsupport::run("ffmpeg -nostdin -hide_banner -loglevel verbose -i " + tsupport::sh_quote(path) +
                    " -map 0:v -c copy -bsf:v trace_headers -f null - 2>&1",
                &out);
  std::vector<TraceHeader> list;
  bool in_packets = false;
  for (const auto& line : tsupport::split_lines(out)) {
    const size_t tag = line.find("[trace_headers @ ");
    if (tag == std::string::npos) continue;
    std::string text = line.substr(line.find(']', tag) + 2);
    if (text.rfind("Packet:", 0) == 0) {
      in_packets = true;
      continue;
    }
    if (!in_packets) continue;
    if (text == "Sequence Header" || text == "Group of Pictures Header" || text == "Picture Header") {
      list.push_back({text, {}});
      continue;
    }
    const size_t eq = text.rfind(" = ");
    if (eq == std::string::npos || list.empty() || text.empty() || !isdigit(static_cast<unsigned char>(text[0]))) continue;
    // "<bit position> <name> <bits> = <value>"
    const size_t name_at = text.find_first_not_of(' ', text.find(' '));
    const std::string name = text.substr(name_at, text.find(' ', name_at) - name_at);
    if (list.back().kind == "Picture Header" && name == "slice_vertical_position") continue;
    list.back().fields.emplace(name, text.substr(eq + 3));
  }
  return list;
}

TEST_P(HeadersOracle, EveryFieldMatchesTraceHeaders) {
  const std::string path = tsupport::fixture(GetParam());
  const Headers h = our_headers(path);
  if (!h.seq.empty() && field_int(h.seq.front(), "mpeg2") == 0) GTEST_SKIP() << "trace_headers reads MPEG-2 only";
  const auto list = trace_headers(path);
  size_t si = 0, gi = 0, pi = 0;
  for (const auto& t : list) {
    const Record& f = t.fields;
    auto num = [&](const char* key) { return f.count(key) ? std::stoll(f.at(key)) : -1LL; };
    if (t.kind == "Sequence Header") {
      ASSERT_LT(si, h.seq.size());
      const std::string& s = h.seq[si++];
      SCOPED_TRACE(s);
      EXPECT_EQ(field_int(s, "aspect"), num("aspect_ratio_information"));
      EXPECT_EQ(field_int(s, "frame_rate_code"), num("frame_rate_code"));
      EXPECT_EQ(field_int(s, "bit_rate"), (num("bit_rate_value") + (num("bit_rate_extension") << 18)) * 400);
      EXPECT_EQ(field_int(s, "vbv_size"), num("vbv_buffer_size_value") + (num("vbv_buffer_size_extension") << 10));
      EXPECT_EQ(field_int(s, "profile_level"), num("profile_and_level_indication"));
      EXPECT_EQ(field_int(s, "progressive"), num("progressive_sequence"));
      const long long chroma_format = num("chroma_format");
      EXPECT_EQ(field_int(s, "chroma"), chroma_format == 3 ? 444 : chroma_format == 2 ? 422 : 420);
      const long long rate_units = num("bit_rate_value") + (num("bit_rate_extension") << 18);
      EXPECT_EQ(field(s, "header_bit_rate"), rate_units == 0x3FFFF ? "vbr" : std::to_string(rate_units * 400));
      EXPECT_EQ(field_int(s, "width"), num("horizontal_size_value") + (num("horizontal_size_extension") << 12));
      EXPECT_EQ(field_int(s, "height"), num("vertical_size_value") + (num("vertical_size_extension") << 12));
    } else if (t.kind == "Group of Pictures Header") {
      ASSERT_LT(gi, h.gop.size());
      const std::string& g = h.gop[gi++];
      SCOPED_TRACE(g);
      const long long tc = num("time_code");
      char text[16];
      std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", (tc >> 19) & 31, (tc >> 13) & 63, (tc >> 6) & 63,
                    tc & 63);
      EXPECT_EQ(field(g, "tc"), text);
      EXPECT_EQ(field_int(g, "drop"), (tc >> 24) & 1);
      EXPECT_EQ(field_int(g, "closed"), num("closed_gop"));
      EXPECT_EQ(field_int(g, "broken"), num("broken_link"));
    } else {
      ASSERT_LT(pi, h.pic.size());
      const std::string& p = h.pic[pi++];
      SCOPED_TRACE(p);
      EXPECT_EQ(std::string(1, "?IPB"[num("picture_coding_type") & 3]), field(p, "type"));
      EXPECT_EQ(field_int(p, "tref"), num("temporal_reference"));
      EXPECT_EQ(field_int(p, "vbv_delay"), num("vbv_delay"));
      EXPECT_EQ(field_int(p, "structure"), num("picture_structure"));
      EXPECT_EQ(field_int(p, "tff"), num("top_field_first"));
      EXPECT_EQ(field_int(p, "rff"), num("repeat_first_field"));
      EXPECT_EQ(field_int(p, "progressive_frame"), num("progressive_frame"));
    }
  }
  EXPECT_EQ(si, h.seq.size());
  EXPECT_EQ(gi, h.gop.size());
  EXPECT_EQ(pi, h.pic.size());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HeadersOracle, ::testing::ValuesIn(kVideoFixtures),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           std::string n = p.param;
                           std::replace_if(n.begin(), n.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); }, '_');
                           return n;
                         });

// Offsets point at the start codes and headers come out in file order.
TEST(HeadersCmd, OffsetsPointAtStartCodes) {
  const std::string path = tsupport::fixture("m2c.m2v");
  const auto data = tsupport::read_file(path);
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("headers " + tsupport::sh_quote(path), &lines), 0);
  long long last = -1;
  const std::map<std::string, uint8_t> codes = {{"seq", 0xB3}, {"gop", 0xB8}, {"pic", 0x00}};
  for (const auto& l : lines) {
    const long long off = field_int(l, "offset");
    ASSERT_GT(off, last) << l;
    last = off;
    ASSERT_LE(off + 4, static_cast<long long>(data.size()));
    EXPECT_EQ(data[off], 0);
    EXPECT_EQ(data[off + 1], 0);
    EXPECT_EQ(data[off + 2], 1);
    EXPECT_EQ(data[off + 3], codes.at(l.substr(0, 3))) << l;
  }
}

// A file cut anywhere gives the full file's headers that lie wholly before
// the cut, and exits cleanly.
TEST(HeadersCmd, TruncatedFileGivesPrefixOfHeaders) {
  const std::string path = tsupport::fixture("m2c.m2v");
  const auto data = tsupport::read_file(path);
  std::vector<std::string> full;
  ASSERT_EQ(tsupport::dev("headers " + tsupport::sh_quote(path), &full), 0);
  const std::string dir = tsupport::temp_dir();
  for (size_t cut : {size_t(5), size_t(13), size_t(30), size_t(40), size_t(47), size_t(100000), data.size() - 1}) {
    SCOPED_TRACE(cut);
    std::vector<uint8_t> part(data.begin(), data.begin() + long(cut));
    const std::string cut_path = dir + "/cut.m2v";
    ASSERT_TRUE(tsupport::write_file(cut_path, part));
    std::vector<std::string> lines;
    const int rc = tsupport::dev("headers " + cut_path + " 2>/dev/null", &lines);
    ASSERT_EQ(rc, lines.empty() ? 1 : 0);
    // Headers with plenty of data behind them read as in the whole file; one
    // cut off near its end may read differently (an extension that is not
    // there) or not at all.
    auto settled = [&](const std::vector<std::string>& v) {
      std::vector<std::string> out;
      for (const auto& l : v)
        if (field_int(l, "offset") + 200 < static_cast<long long>(cut)) out.push_back(l);
      return out;
    };
    EXPECT_EQ(settled(lines), settled(full));
    for (const auto& l : lines) EXPECT_LT(field_int(l, "offset"), static_cast<long long>(cut));
  }
}

TEST(HeadersCmd, GarbageAndEmptyFilesFailCleanly) {
  const std::string dir = tsupport::temp_dir();
  std::vector<uint8_t> junk(300000);
  uint32_t x = 12345;
  for (auto& b : junk) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 24);
  }
  // Start codes of every kind with random bytes behind them.
  for (size_t i = 0; i + 4 < junk.size(); i += 997) {
    junk[i] = 0;
    junk[i + 1] = 0;
    junk[i + 2] = 1;
    junk[i + 3] = (i / 997) % 3 == 0 ? 0xB3 : (i / 997) % 3 == 1 ? 0xB8 : 0x00;
  }
  ASSERT_TRUE(tsupport::write_file(dir + "/junk.m2v", junk));
  ASSERT_TRUE(tsupport::write_file(dir + "/empty.m2v", {}));
  std::vector<std::string> lines;
  for (const char* name : {"/junk.m2v", "/empty.m2v"}) {
    const int rc = tsupport::dev("headers " + dir + name + " 2>/dev/null", &lines);
    EXPECT_LE(rc, 1) << name;  // a clean exit, not a signal
  }
  EXPECT_EQ(tsupport::dev("headers " + dir + "/empty.m2v 2>/dev/null", &lines), 1);
  EXPECT_EQ(tsupport::dev("headers " + dir + "/missing.m2v 2>/dev/null", &lines), 1);
}

}  // namespace
