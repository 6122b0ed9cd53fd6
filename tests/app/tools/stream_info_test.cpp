// The Stream Info rules over the real engine: the lines shown for program,
// transport, elementary and MPEG-1 files checked against ffprobe, stream
// choices kept in the copy, and the four values read back in the form shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "app/tools/stream_info.h"
#include "engine/clips/clip_verify.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

using namespace tsupport;

EClip project_of(std::initializer_list<const char*> names) {
  EClip p;
  for (const char* n : names) {
    auto c = clip_ctor(fixture(n).c_str(), 0, 0, 0, 0);
    EXPECT_TRUE(c.has_value()) << n;
    if (c) p.clips.push_back(*c);
  }
  return p;
}

// ffprobe's entries of a file: one "key=value key=value" line each.
std::vector<std::string> probe(const std::string& name, const std::string& entries) {
  std::string out;
  run("ffprobe -v error -show_entries " + entries + " -of 'compact=p=0:s=\\ ' " + sh_quote(fixture(name)), &out);
  std::vector<std::string> lines;
  // Transport streams list their streams once under the program, once alone.
  for (const std::string& l : split_lines(out))
    if (l.find('=') != std::string::npos && std::find(lines.begin(), lines.end(), l) == lines.end()) lines.push_back(l);
  return lines;
}

TEST(StreamInfo, GroupedFrameNumbers) {
  const std::map<int, std::string> cases = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {1000000, "1,000,000"}, {45678, "45,678"}};
  for (const auto& [n, text] : cases) EXPECT_EQ(grouped_frames(n), text) << n;
}

TEST(StreamInfo, TextsAgreeWithTheProbeOfEachKindOfFile) {
  TSUPPORT_NEED_FIXTURES("cv_dvd_2a.vob", "cv_5.ts", "cv_es.m2v", "cv_vcd.mpg", "422.m2v");
  if (!have_program("ffprobe")) GTEST_SKIP() << "ffprobe missing";
  FakePlatform fake;
  struct Case {
    const char* file;
    const char* kind;
    const char* video_format;
  };
  const Case cases[] = {
      {"cv_dvd_2a.vob", "MPEG-2 Program Stream", "MPEG-2"},
      {"cv_5.ts", "MPEG-2 Transport Stream", "MPEG-2"},
      {"cv_es.m2v", "MPEG-2 Video Stream", "MPEG-2"},
      {"cv_vcd.mpg", "MPEG-1 Systems Stream", "MPEG-1"},
      {"422.m2v", "MPEG-2 Video Stream", "MPEG-2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CStreamInfoDlg dlg(project_of({c.file}));
    dlg.init();
    const bool ts = std::string(c.file).ends_with(".ts");
    // The clip box: its kind, and the PMT PID of a transport stream only.
    std::string box = std::string("Stream Info:  clip 1/1 (") + c.kind + ")";
    if (ts) {
      const std::vector<std::string> programs = probe(c.file, "program=pmt_pid");
      ASSERT_FALSE(programs.empty());
      box += ", PMT-PID: " + field(programs[0], "pmt_pid");
    }
    EXPECT_EQ(dlg.clip_group, box);

    std::vector<std::string> video, audio;
    for (const std::string& l : probe(c.file, "stream=codec_type,codec_name,id,width,height,r_frame_rate,pix_fmt,"
                                              "sample_rate,channels")) {
      if (field(l, "codec_type") == "video") video.push_back(l);
      if (field(l, "codec_type") == "audio") audio.push_back(l);
    }
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(dlg.video_lines.size(), 1u);
    EXPECT_FALSE(dlg.video_enabled());
    EXPECT_EQ(dlg.video_format.rfind(c.video_format, 0), 0u) << dlg.video_format;
    const std::string& vs = video[0];
    const std::string chroma = field(vs, "pix_fmt") == "yuv422p" ? " (422)" : "";
    int num = 0, den = 1;
    std::sscanf(field(vs, "r_frame_rate").c_str(), "%d/%d", &num, &den);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.2f fps", double(num) / den);
    EXPECT_EQ(dlg.video_text.rfind("\n    resolution: " + field(vs, "width") + " x " + field(vs, "height") + chroma +
                                       "\n    frame rate: " + rate,
                                   0),
              0u)
        << dlg.video_text;
    EXPECT_EQ(dlg.video_group, ts ? "Video (1), PID: " + std::to_string(std::stol(field(vs, "id"), nullptr, 16))
                                  : std::string("Video (1)"));

    // Each audio stream in the selector is the probe's, in file order.
    ASSERT_EQ(audio.size(), dlg.audio_lines.size());
    EXPECT_EQ(dlg.audio_enabled(), audio.size() >= 2);
    for (size_t i = 0; i < audio.size(); ++i) {
      dlg.choose_audio(int(i));
      const std::string& p = audio[i];
      const bool mp2 = field(p, "codec_name") == "mp2";
      EXPECT_EQ(dlg.audio_format, mp2 ? "MPEG Layer-2" : "Dolby AC-3");
      const int id = int(std::stol(field(p, "id"), nullptr, 16));
      // Transport streams list PIDs; program streams their ids.
      const std::string shown = ts ? "(" + std::to_string(id) + ")" : std::to_string(id & 0xFF);
      EXPECT_NE(dlg.audio_lines[i].find(shown), std::string::npos) << dlg.audio_lines[i];
      char rate_text[40];
      std::snprintf(rate_text, sizeof rate_text, "sample rate: %.2f kHz", std::stoi(field(p, "sample_rate")) / 1000.0);
      EXPECT_NE(dlg.audio_text.find(rate_text), std::string::npos) << dlg.audio_text;
      const std::string ch = field(p, "channels");
      EXPECT_NE(dlg.audio_text.find(mp2 ? "channels:    " + ch : "channels: " + ch), std::string::npos)
          << dlg.audio_text;
    }
  }
}

TEST(StreamInfo, TwoProgramsNumberTheLinesAndStreamChoicesStayInTheCopy) {
  TSUPPORT_NEED_FIXTURES("ts_2p.ts", "cv_dvd_2a.vob", "cv_vcd.mpg");
  FakePlatform fake;
  {
    CStreamInfoDlg dlg(project_of({"ts_2p.ts"}));
    dlg.init();
    ASSERT_EQ(dlg.video_lines.size(), 2u);
    EXPECT_EQ(dlg.video_lines[0], "1 - 224 (256)");
    EXPECT_EQ(dlg.video_lines[1], "2 - 224 (258)");
    EXPECT_TRUE(dlg.video_enabled());
    dlg.choose_video(1);
    EXPECT_EQ(dlg.video_format, "MPEG-1");
    EXPECT_EQ(dlg.video_group, "Video (2), PID: 258");
    EXPECT_EQ(dlg.project().clips[0].video_pid, 258);
  }
  const EClip original = project_of({"cv_vcd.mpg", "cv_dvd_2a.vob"});
  CStreamInfoDlg dlg(original);
  dlg.values[CStreamInfoDlg::kOffset] = (original.clips[0].count + 2) / dlg.frame_rate;
  dlg.init();
  // The offset lies in the second clip: it is the one shown.
  EXPECT_EQ(dlg.current, 1);
  EXPECT_TRUE(dlg.clip_selector_enabled());
  EXPECT_EQ(dlg.audio_lines, (std::vector<std::string>{"192 (0xc0)", "128 (0x80)"}));
  // The clip's own choice is the line selected; the other one changes the
  // copy only.
  const int chosen = original.clips[1].audio_stream_id;
  EXPECT_EQ(dlg.audio_line, chosen == 0x80 ? 1 : 0);
  dlg.choose_audio(1 - dlg.audio_line);
  EXPECT_EQ(dlg.audio_format, chosen == 0x80 ? "MPEG Layer-2" : "Dolby AC-3");
  EXPECT_EQ(dlg.project().clips[1].audio_stream_id, chosen == 0x80 ? 0xC0 : 0x80);
  EXPECT_EQ(original.clips[1].audio_stream_id, chosen);
  dlg.choose_clip(0);
  EXPECT_EQ(dlg.clip_group, "Stream Info:  clip 1/2 (MPEG-1 Systems Stream)");
  EXPECT_EQ(dlg.audio_group, "Audio (1)");
  EXPECT_FALSE(dlg.audio_enabled());
}

TEST(StreamInfo, ValuesReadBackInTheFormShown) {
  EClip empty;
  CStreamInfoDlg dlg(empty);
  dlg.frame_rate = 25.0;
  dlg.values[CStreamInfoDlg::kStart] = 3723.16;  // 1:02:03 and 4 pictures
  dlg.set_time_format(1);
  const std::string tc = dlg.value_text(CStreamInfoDlg::kStart);
  EXPECT_EQ(tc, "1:02:03:04");
  dlg.values[CStreamInfoDlg::kStart] = 0;
  ASSERT_TRUE(dlg.set_value_text(CStreamInfoDlg::kStart, tc));
  EXPECT_NEAR(dlg.values[CStreamInfoDlg::kStart], 3723.16, 1e-6);
  // Not a time code: the value stays.
  EXPECT_FALSE(dlg.set_value_text(CStreamInfoDlg::kStart, "abc"));
  EXPECT_NEAR(dlg.values[CStreamInfoDlg::kStart], 3723.16, 1e-6);

  dlg.set_time_format(0);
  dlg.values[CStreamInfoDlg::kEnd] = 1234567 / 25.0;
  EXPECT_EQ(dlg.value_text(CStreamInfoDlg::kEnd), "1,234,567");
  ASSERT_TRUE(dlg.set_value_text(CStreamInfoDlg::kInsert, "1,234,567"));
  EXPECT_NEAR(dlg.values[CStreamInfoDlg::kInsert], 1234567 / 25.0, 1e-9);
  ASSERT_TRUE(dlg.set_value_text(CStreamInfoDlg::kOffset, "999"));
  EXPECT_EQ(dlg.value_text(CStreamInfoDlg::kOffset), "999");
  for (const char* bad : {"", "12x", "-5", "1.5"}) {
    EXPECT_FALSE(dlg.set_value_text(CStreamInfoDlg::kOffset, bad)) << bad;
    EXPECT_EQ(dlg.value_text(CStreamInfoDlg::kOffset), "999");
  }
  EXPECT_EQ(dlg.segment_caption(), "Marked Segment:   (total = 0.00 (0))");
  dlg.set_time_format(1);
  EXPECT_EQ(dlg.segment_caption(), "Marked Segment:   (total = 0.00 (0)), offset = 999");
}

}  // namespace
