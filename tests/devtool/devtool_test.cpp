// tamsel-dev as a user meets it: help on stdout, usage errors with exit 2,
// errors that name their cause, numbers outside the file reported, streams
// the tool cannot read yet refused instead of misread, describe on every
// kind of file, and one name for each bit rate and for chroma.
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

using namespace tsupport;

struct Result {
  int rc = -1;
  std::string out, err;
};

// Runs tamsel-dev with args (already quoted), keeping stdout and stderr apart.
Result tool(const std::string& args) {
  Result r;
  const std::string err_path = temp_dir() + "/stderr";
  r.rc = run(sh_quote(dev_tool()) + " " + args + " 2>" + sh_quote(err_path), &r.out);
  const auto bytes = read_file(err_path);
  r.err.assign(bytes.begin(), bytes.end());
  return r;
}

// The record of a command that prints one line.
std::string line(const Result& r) {
  const auto lines = split_lines(r.out);
  return lines.empty() ? "" : lines.front();
}

bool has(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

std::string fx(const char* name) { return sh_quote(fixture(name)); }

const char* const kCommands[] = {"ac3",    "audio",  "cut",     "decode", "demux",   "describe", "frame",
                                 "gop-of", "gops",   "headers", "image",  "info",    "jpeg",     "patch",
                                 "probe",  "read",   "readgop", "sample", "scale",   "span",     "streams",
                                 "tables", "vbv",    "walk",    "yuv2bmp"};

TEST(DevHelp, ListsEveryCommandOnStdout) {
  for (const char* args : {"--help", "help", "-h"}) {
    SCOPED_TRACE(args);
    const Result r = tool(args);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "");
    for (const char* name : kCommands) {
      // One line per command: its name, its arguments and what it does.
      bool found = false;
      for (const auto& line : split_lines(r.out))
        if (line.rfind(std::string("  ") + name + " ", 0) == 0) found = has(line, " -- ");
      EXPECT_TRUE(found) << name << " missing from\n" << r.out;
    }
  }
  for (const char* args : {"help decode", "decode --help"}) {
    const Result d = tool(args);
    EXPECT_EQ(d.rc, 0) << args;
    EXPECT_TRUE(has(d.out, "usage: tamsel-dev decode FILE OUT.yuv [--size full|half|quarter]\n")) << d.out;
  }
  const Result v = tool("--version");
  EXPECT_EQ(v.rc, 0);
  EXPECT_EQ(v.out, "tamsel-dev 0.1.0\n");
}

struct UsageCase {
  std::string args;
  const char* says;  // on stderr
};

TEST(DevUsage, WrongArgumentsExitTwoSayingWhatWasWrong) {
  const std::vector<UsageCase> cases = {
      {"", "no command given"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"help frobnicate", "unknown command 'frobnicate'"},
      {"help decode gops", "one command at most"},
      {"info a b", "wrong number of arguments (2)"},
      {"decode a.m2v", "wrong number of arguments (1)"},
      {"decode a.m2v o.yuv --size huge", "size 'huge' is not full, half or quarter"},
      {"decode a.m2v o.yuv --sizes half", "unknown option '--sizes'"},
      {"frame a.m2v 1", "no --out"},
      {"frame a.m2v x --out o.yuv", "frame 'x' is not a number"},
      {"frame a.m2v 1 --out o.yuv --clip 5", "clip '5' is not FIRST:LAST"},
      {"walk a.m2v 1 --out o.yuv", "no frame TO"},
      {"readgop a.m2v one o", "GOP number 'one'"},
      {"gop-of a.m2v 1 two", "frame 'two' is not a number"},
      {"jpeg x.yuv 65535 65535 420 85 o.jpg", "size 65535 x 65535 is not 1..8192"},
      {"jpeg x.yuv 352 288 1 85 o.jpg", "chroma '1' is not 420 or 422"},
      {"jpeg x.yuv 352 288 420 101 o.jpg", "quality '101'"},
      {"yuv2bmp x.yuv 352 288 4:2:0 24 o.bmp", "chroma '4:2:0' is not 420 or 422"},
      {"scale x.yuv 352 288 420 0 576 o.yuv", "output size 0 x 576"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = tool(c.args);
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, c.says)) << r.err;
    EXPECT_TRUE(has(r.err, "usage: tamsel-dev")) << r.err;
  }
  // No command runs without its arguments.
  for (const char* name : kCommands) {
    SCOPED_TRACE(name);
    const Result r = tool(name);
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, std::string("usage: tamsel-dev ") + name + " ")) << r.err;
  }
}

TEST(DevErrors, NameTheirCause) {
  const std::string dir = temp_dir();
  const std::string locked = dir + "/locked.m2v";
  ASSERT_TRUE(write_file(locked, read_file(fixture("m2c.m2v"))));
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const bool root = geteuid() == 0;  // reads anything: no Permission denied
  struct Case {
    std::string file;
    const char* cause;
  };
  const std::vector<Case> cases = {
      {dir + "/missing.m2v", "No such file or directory"},
      {dir, "Is a directory"},
      {locked, root ? nullptr : "Permission denied"},
  };
  for (const auto& c : cases) {
    if (!c.cause) continue;
    for (const char* cmd : {"probe", "describe", "info", "headers", "decode", "audio", "ac3", "gops", "tables", "image"}) {
      SCOPED_TRACE(std::string(cmd) + " " + c.file);
      const std::string extra = std::string(cmd) == "decode" || std::string(cmd) == "image" ? " /dev/null" : "";
      const Result r = tool(std::string(cmd) + " " + sh_quote(c.file) + extra);
      EXPECT_EQ(r.rc, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_TRUE(has(r.err, "<" + c.file + ">: " + c.cause)) << r.err;
      EXPECT_FALSE(has(r.err, "cannot open to read")) << r.err;
    }
  }
  // Inputs of the picture commands too, and outputs.
  const Result j = tool("jpeg " + sh_quote(dir + "/missing.yuv") + " 352 288 420 85 " + sh_quote(dir + "/o.jpg"));
  EXPECT_EQ(j.rc, 1);
  EXPECT_TRUE(has(j.err, "No such file or directory")) << j.err;
  const Result o = tool("decode " + fx("m2c.m2v") + " " + sh_quote(dir + "/no/such/o.yuv"));
  EXPECT_EQ(o.rc, 1);
  EXPECT_TRUE(has(o.err, "cannot open to write: No such file or directory")) << o.err;
}

// Commands over elementary streams that have no demultiplexer road yet
// refuse program and transport streams by name instead of misreading them
// (audio listed frames that are not there).
TEST(DevRefusal, ProgramAndTransportStreamsAreRefusedNotMisread) {
  const std::string o = sh_quote(temp_dir() + "/o");
  struct File {
    const char* name;
    const char* what;
  };
  const File files[] = {{"st_vob.vob", "program streams are not supported yet"},
                        {"st_sys.mpg", "program streams are not supported yet"},
                        {"st_ts.ts", "transport streams are not supported yet"}};
  // The index, frame access, spans and stream information read program and
  // transport streams now; these still refuse them.
  const std::vector<std::string> cmds = {"audio F", "ac3 F", "headers F"};
  for (const auto& f : files) {
    for (const auto& cmd : cmds) {
      std::string args = cmd;
      args.replace(args.find('F'), 1, fx(f.name));
      SCOPED_TRACE(args);
      const Result r = tool(args);
      EXPECT_EQ(r.rc, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_TRUE(has(r.err, f.what)) << r.err;
      EXPECT_TRUE(has(r.err, ": not ")) << r.err;
    }
  }
  // The still and movie readers never will read them: no promise there.
  const Result i = tool("image " + fx("st_vob.vob") + " " + o);
  EXPECT_EQ(i.rc, 1);
  EXPECT_TRUE(has(i.err, "not a still picture or movie: it is an MPEG-2 program stream\n")) << i.err;
  // Elementary streams of the other kind are refused too, saying what they are.
  const Result a = tool("audio " + fx("m2c.m2v"));
  EXPECT_EQ(a.rc, 1);
  EXPECT_EQ(a.out, "");
  EXPECT_TRUE(has(a.err, "not an MPEG audio elementary stream: it is an MPEG-2 video elementary stream")) << a.err;
  const Result d = tool("decode " + fx("st_a48.mp2") + " /dev/null");
  EXPECT_EQ(d.rc, 1);
  EXPECT_TRUE(has(d.err, "not a video elementary, program or transport stream: it is an MPEG audio elementary stream")) << d.err;
  const Result t = tool("tables " + fx("st_m2.m2v"));
  EXPECT_EQ(t.rc, 1);
  EXPECT_TRUE(has(t.err, "not a transport stream: it is an MPEG-2 video elementary stream")) << t.err;
}

// decode reads a program or transport stream through its demultiplexer:
// the pictures are those of its first video stream as ffmpeg copies it out.
TEST(DevDecode, ProgramAndTransportStreamsDecodeTheirFirstVideo) {
  const std::string dir = temp_dir();
  for (const char* name : {"st_vob.vob", "st_sys.mpg", "st_ts.ts"}) {
    SCOPED_TRACE(name);
    const std::string es = dir + "/v.es", ours = dir + "/sys.yuv", theirs = dir + "/es.yuv";
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + fx(name) + " -map 0:v:0 -c copy -f mpeg2video " +
                  sh_quote(es)),
              0);
    const Result a = tool("decode " + fx(name) + " " + sh_quote(ours));
    ASSERT_EQ(a.rc, 0) << a.err;
    const Result b = tool("decode " + sh_quote(es) + " " + sh_quote(theirs));
    ASSERT_EQ(b.rc, 0) << b.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(field(line(a), "frames"), "75");
    EXPECT_TRUE(read_file(ours) == read_file(theirs));
  }
  // A transport stream without video is refused with its cause.
  const std::string audio_ts = dir + "/a.ts";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + fx("st_a48.mp2") + " -c copy -f mpegts " +
                sh_quote(audio_ts)),
            0);
  const Result n = tool("decode " + sh_quote(audio_ts) + " " + sh_quote(dir + "/n.yuv"));
  EXPECT_EQ(n.rc, 1);
  EXPECT_EQ(n.out, "");
  EXPECT_TRUE(has(n.err, "<" + audio_ts + ">: ")) << n.err;
}

long long frames_of(const std::string& file) {
  const Result r = tool("info " + sh_quote(file));
  EXPECT_EQ(r.rc, 0) << r.err;
  return field_int(line(r), "frames");
}

TEST(DevRange, NumbersOutsideTheFileAreErrorsWithTheRange) {
  const std::string dir = temp_dir();
  const long long frames = frames_of(fixture("m2c.m2v"));
  ASSERT_GT(frames, 1);
  const std::string last = std::to_string(frames - 1);
  Result gops = tool("gops " + fx("m2c.m2v"));
  ASSERT_EQ(gops.rc, 0);
  const long long gop_count = field_int(split_lines(gops.out).back(), "gops");
  const std::string o = sh_quote(dir + "/o");
  struct Case {
    std::string args, says;
  };
  const std::vector<Case> cases = {
      {"gop-of " + fx("m2c.m2v") + " 0 5000", "frame 5000 outside 0.." + last},
      {"gop-of " + fx("m2c.m2v") + " -1", "frame -1 outside 0.." + last},
      {"frame " + fx("m2c.m2v") + " " + std::to_string(frames) + " --out " + o,
       "frame " + std::to_string(frames) + " outside 0.." + last},
      {"walk " + fx("m2c.m2v") + " 0 5000 --out " + o, "frame 5000 outside 0.." + last},
      {"frame " + fx("m2c.m2v") + " 0 --clip 2:5000 --out " + o, "clip last frame 5000 outside 0.." + last},
      {"readgop " + fx("m2c.m2v") + " 999 " + o, "GOP 999 outside 0.." + std::to_string(gop_count - 1)},
      {"readgop " + fx("m2c.m2v") + " -1 " + o, "GOP -1 outside 0.."},
      {"sample " + fx("mov_mjpeg.mov") + " 100000 " + o, "sample 100000 outside 0.."},
      {"sample " + fx("avi_bgr24.avi") + " 100000 " + o, "sample 100000 outside 0.."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = tool(c.args);
    EXPECT_EQ(r.rc, 1);
    EXPECT_TRUE(has(r.err, c.says)) << r.err;
  }
  // The last ones inside still work.
  EXPECT_EQ(tool("gop-of " + fx("m2c.m2v") + " " + last).rc, 0);
  EXPECT_EQ(tool("readgop " + fx("m2c.m2v") + " " + std::to_string(gop_count - 1) + " " + o).rc, 0);
}

// A 65535 x 65535 picture asked of a small input was allocated (7 GB)
// before the input was read; now the input's size is checked first.
TEST(DevJpeg, SizeLargerThanTheInputIsRefusedBeforeAllocating) {
  const std::string out = sh_quote(temp_dir() + "/o.jpg");
  const Result r = tool("jpeg " + fx("still_src.yuv") + " 8192 8192 420 85 " + out);
  EXPECT_EQ(r.rc, 1);
  EXPECT_TRUE(has(r.err, "a 8192x8192 420 frame needs 100663296")) << r.err;
  const Result s = tool("scale " + fx("pic_352x288.yuv") + " 720 576 420 352 288 " + out);
  EXPECT_EQ(s.rc, 1);
  EXPECT_TRUE(has(s.err, "a 720x576 420 frame needs 622080")) << s.err;
}

std::string ffprobe_entry(const std::string& file, const std::string& entries) {
  std::string out;
  run("ffprobe -v error -select_streams 0 -show_entries " + entries + " -of csv=p=0 " + sh_quote(file), &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

TEST(DevDescribe, PrintsWhatAppliesToEachKind) {
  struct Case {
    const char* file;
    const char* kind;                 // first word
    std::vector<const char*> keys;    // present
    std::vector<const char*> absent;  // not printed for this kind
  };
  const std::vector<Case> cases = {
      {"st_m2vbr.m2v", "video",
       {"frames", "width", "height", "frame_rate", "chroma", "header_bit_rate", "measured_bit_rate"}, {"channels"}},
      {"m1c.m1v", "video", {"frames", "header_bit_rate", "measured_bit_rate"}, {"rate", "channels"}},
      {"st_a48.mp2", "audio", {"length", "rate", "channels", "header_bit_rate", "measured_bit_rate"},
       {"width", "height", "frames", "frame_rate"}},
      {"st_a.ac3", "audio", {"rate", "channels", "header_bit_rate"}, {"width", "frames"}},
      {"st_vob.vob", "stream", {"bytes", "type"}, {"width", "frames", "bit_rate"}},
      {"st_ts.ts", "stream", {"bytes", "type"}, {"width", "frames"}},
      {"pic_td24.bmp", "still", {"width", "height", "bytes"}, {"frames", "header_bit_rate"}},
      {"cjpeg_q85.jpg", "still", {"width", "height", "bytes"}, {"frames"}},
      {"mov_mjpeg.mov", "movie", {"samples", "frame_rate", "width", "height"}, {"header_bit_rate"}},
      {"avi_bgr24.avi", "movie", {"samples", "frame_rate", "width", "height"}, {"header_bit_rate"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Result r = tool("describe " + fx(c.file));
    ASSERT_EQ(r.rc, 0) << r.err;
    const auto lines = split_lines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_EQ(lines[0].substr(0, lines[0].find(' ')), c.kind);
    for (const char* k : c.keys) EXPECT_NE(field(lines[0], k), "") << k << " in " << lines[0];
    for (const char* k : c.absent) EXPECT_EQ(field(lines[0], k), "") << k << " in " << lines[0];
    EXPECT_NE(field(lines[0], "name"), "");
  }
  // Sizes and counts against ffprobe.
  const std::string still = fixture("pic_td24.bmp");
  const Result b = tool("describe " + sh_quote(still));
  EXPECT_EQ(field(line(b), "width") + "," + field(line(b), "height"), ffprobe_entry(still, "stream=width,height"));
  for (const char* movie : {"mov_mjpeg.mov", "avi_bgr24.avi"}) {
    const std::string path = fixture(movie);
    const Result m = tool("describe " + sh_quote(path));
    EXPECT_EQ(field(line(m), "samples"), ffprobe_entry(path, "stream=nb_frames")) << movie;
    EXPECT_EQ(field(line(m), "width") + "," + field(line(m), "height"), ffprobe_entry(path, "stream=width,height"));
  }
  const std::string mp2 = fixture("st_a48.mp2");
  const Result a = tool("describe " + sh_quote(mp2));
  EXPECT_EQ(field(line(a), "rate"), ffprobe_entry(mp2, "stream=sample_rate"));
  EXPECT_EQ(field(line(a), "header_bit_rate"), ffprobe_entry(mp2, "stream=bit_rate"));
}

TEST(DevDescribe, MovieOfAnotherCodecIsNamedWithoutSamples) {
  const Result r = tool("describe " + fx("mov_png.mov"));
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(line(r).rfind("movie bytes=", 0), 0u) << r.out;
  EXPECT_EQ(field(line(r), "samples"), "");
  EXPECT_EQ(field(line(r), "name"), "QuickTime");
  EXPECT_TRUE(has(r.err, "samples not readable")) << r.err;
}

TEST(DevDescribe, UnknownOrEmptyFileIsAnError) {
  const std::string dir = temp_dir();
  ASSERT_TRUE(write_file(dir + "/empty.bin", {}));
  for (const std::string& file : {fixture("st_random.bin"), dir + "/empty.bin"}) {
    SCOPED_TRACE(file);
    const Result r = tool("describe " + sh_quote(file));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(has(r.err, "cannot tell what this is")) << r.err;
  }
}

// describe, info and headers printed three different bit rates under one
// name for a VBR stream; now each kind has its own name and they agree.
TEST(DevBitRates, OneNamePerKindAcrossCommands) {
  for (const char* name : {"st_m2vbr.m2v", "st_m2.m2v", "m1c.m1v"}) {
    SCOPED_TRACE(name);
    const std::string file = fixture(name);
    const Result info = tool("info " + sh_quote(file));
    const Result desc = tool("describe " + sh_quote(file));
    const Result hdrs = tool("headers " + sh_quote(file));
    ASSERT_EQ(info.rc, 0);
    ASSERT_EQ(desc.rc, 0);
    ASSERT_EQ(hdrs.rc, 0);
    const std::string seq = split_lines(hdrs.out).front();
    ASSERT_EQ(seq.rfind("seq ", 0), 0u);
    EXPECT_EQ(field(line(info), "bit_rate"), "");
    EXPECT_EQ(field(line(desc), "bit_rate"), "");
    EXPECT_EQ(field(line(info), "header_bit_rate"), field(seq, "header_bit_rate"));
    EXPECT_EQ(field(line(desc), "header_bit_rate"), field(seq, "header_bit_rate"));
    EXPECT_EQ(field(line(info), "measured_bit_rate"), field(line(desc), "measured_bit_rate"));
    // size x 8 / duration.
    const double seconds = std::stod(field(line(info), "length"));
    const double measured = double(read_file(file).size()) * 8 / seconds;
    EXPECT_NEAR(double(field_int(line(info), "measured_bit_rate")), measured, 1.0);
    const std::string rate = field(seq, "header_bit_rate");
    if (rate != "vbr") {
      EXPECT_EQ(rate, std::to_string(field_int(seq, "bit_rate")));
    }
  }
}

TEST(DevChroma, OneNotationInEveryCommand) {
  const std::string file = fixture("422.m2v");
  const Result info = tool("info " + sh_quote(file));
  const Result hdrs = tool("headers " + sh_quote(file));
  const Result dec = tool("decode " + sh_quote(file) + " /dev/null");
  EXPECT_EQ(field(line(info), "chroma"), "422");
  EXPECT_EQ(field(split_lines(hdrs.out).front(), "chroma"), "422");
  EXPECT_EQ(field(line(dec), "chroma"), "422");
  EXPECT_EQ(field(line(tool("info " + fx("m2c.m2v"))), "chroma"), "420");
}

// PMT stream_type beside the engine's code: 0x02 MPEG-2 video, 0x03 MPEG
// audio, 0x81 AC-3; the AC-3 of system B (0x06) is not kept.
TEST(DevTables, PrintThePmtStreamType) {
  struct Case {
    const char* file;
    std::vector<std::string> types;  // "type/stream_type" of each es line
  };
  const std::vector<Case> cases = {
      {"st_ts.ts", {"3/0x02", "1/0x03"}},
      {"st_tsm1.ts", {"3/0x02", "1/0x03"}},  // ffmpeg signals MPEG-1 video as 0x02
      {"st_tsac3.ts", {"3/0x02", "9/0x81"}},
      {"st_tsac3b.ts", {"3/0x02"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Result r = tool("tables " + fx(c.file));
    ASSERT_EQ(r.rc, 0) << r.err;
    std::vector<std::string> got;
    for (const auto& l : split_lines(r.out))
      if (l.rfind("es ", 0) == 0) got.push_back(field(l, "type") + "/" + field(l, "stream_type"));
    EXPECT_EQ(got, c.types);
  }
}

}  // namespace
