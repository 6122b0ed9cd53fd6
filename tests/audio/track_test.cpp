// The audio track through `tamsel-dev track`: edits by time on WAVE clips
// against a model of frame lists, transitions, gain envelopes and the sound
// output's volume and channel selection, and compressed ranges against
// ffmpeg's decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/track/audio_editor.h"
#include "audio/track/sound_frame.h"
#include "engine/clips/clip_list.h"
#include "platform/dsaudio.h"
#include "support.h"

namespace {

using tsupport::sh_quote;

constexpr int kFrame = 1152;

std::vector<int16_t> wave_samples(const std::string& path) {
  const std::vector<uint8_t> b = tsupport::read_file(path);
  // The data chunk, wherever it is.
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | uint32_t(b[at + 7]) << 24;
    if (std::string(b.begin() + long(at), b.begin() + long(at) + 4) == "data") {
      std::vector<int16_t> v(std::min<size_t>(size, b.size() - at - 8) / 2);
      for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(b[at + 8 + 2 * i] | b[at + 9 + 2 * i] << 8);
      return v;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

// A stereo 48 kHz WAVE of whole 1152-sample frames.
std::string make_wave(const std::string& name, const std::string& source, int frames) {
  const std::string path = tsupport::temp_dir() + "/" + name;
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i " + sh_quote(source) + " -ac 2 -ar 48000 -af atrim=end_sample=" +
                          std::to_string(frames * kFrame) + " -c:a pcm_s16le -bitexact -map_metadata -1 " +
                          sh_quote(path);
  return tsupport::run(cmd) == 0 ? path : "";
}

struct Rendered {
  std::vector<std::string> lines;
  std::vector<int16_t> pcm;
  int rc = -1;
};

Rendered render(const std::string& file, const std::string& script, const std::string& extra = "") {
  Rendered r;
  const std::string out = tsupport::temp_dir() + "/out.wav";
  r.rc = tsupport::dev("track " + sh_quote(file) + " --script " + sh_quote(script) + " --out " + sh_quote(out) +
                           " " + extra,
                       &r.lines);
  r.pcm = wave_samples(out);
  return r;
}

// The model: a track is a list of frames, each a file's frame.
struct Frame {
  const std::vector<int16_t>* src;
  int index;
};
using Model = std::vector<Frame>;

Model frames_of(const std::vector<int16_t>& pcm) {
  Model m;
  for (int i = 0; i < int(pcm.size()) / (2 * kFrame); ++i) m.push_back({&pcm, i});
  return m;
}
int frame_at(double t) { return int(std::floor(t * 48000.0 / kFrame + 1e-9)); }
Model range(const Model& m, double s, double l) {
  return Model(m.begin() + frame_at(s), m.begin() + std::min<long>(long(m.size()), frame_at(s + l)));
}
void cut(Model* m, double s, double l) {
  m->erase(m->begin() + frame_at(s), m->begin() + std::min<long>(long(m->size()), frame_at(s + l)));
}
void paste(Model* m, const Model& piece, double t) {
  const long at = t >= (double(m->size()) - 0.5) * kFrame / 48000.0 ? long(m->size()) : frame_at(t);
  m->insert(m->begin() + at, piece.begin(), piece.end());
}
std::vector<int16_t> samples(const Model& m) {
  std::vector<int16_t> v;
  for (const Frame& f : m) v.insert(v.end(), f.src->begin() + 2L * kFrame * f.index, f.src->begin() + 2L * kFrame * (f.index + 1));
  return v;
}

class TrackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    a_ = make_wave("a.wav", "sine=f=440:r=48000:d=3", 100);
    b_ = make_wave("b.wav", "anoisesrc=r=48000:d=2:a=0.3", 50);
    ASSERT_FALSE(a_.empty());
    ASSERT_FALSE(b_.empty());
    pa_ = wave_samples(a_);
    pb_ = wave_samples(b_);
    ASSERT_EQ(pa_.size(), size_t(2 * kFrame * 100));
    ASSERT_EQ(pb_.size(), size_t(2 * kFrame * 50));
  }
  std::string a_, b_;
  std::vector<int16_t> pa_, pb_;
};

// Cut, copy, paste (at a time and at the end), insert of a file, and undo /
// redo through snapshots give exactly the model's samples.
TEST_F(TrackTest, TimedEditsMatchTheModel) {
  const Model a = frames_of(pa_), b = frames_of(pb_);
  struct Case {
    std::string script;
    Model expected;
  };
  std::vector<Case> cases;
  {
    Model m = a;
    cut(&m, 0.5, 0.3);
    cases.push_back({"cut 0.5 0.3", m});
  }
  {
    Model m = a;
    const Model piece = range(m, 0.1, 0.25);
    paste(&m, piece, 1.03);
    paste(&m, piece, double(m.size()) * kFrame / 48000.0 - 0.01);  // within half a frame of the end: appended
    cases.push_back({"copy 0.1 0.25; paste 1.03; paste " + std::to_string(double(m.size() - piece.size()) * kFrame / 48000.0 - 0.01), m});
  }
  {
    Model m = a;
    paste(&m, b, 0.7);
    cut(&m, 0.0, 0.2);
    cases.push_back({"insert " + b_ + " 0.7; cut 0 0.2", m});
  }
  {
    // Undo the cut, then redo it.
    Model m = a;
    cut(&m, 1.0, 0.5);
    cases.push_back({"snapshot s0; cut 1.0 0.5; snapshot s1; replace s0; replace s1", m});
    cases.push_back({"snapshot s0; cut 1.0 0.5; replace s0", a});
  }
  for (const Case& c : cases) {
    const Rendered r = render(a_, c.script);
    ASSERT_EQ(r.rc, 0) << c.script;
    for (const std::string& l : r.lines)
      if (l.rfind("op ", 0) == 0) {
        EXPECT_EQ(tsupport::field(l, "result"), "1") << c.script << ": " << l;
      }
    const std::vector<int16_t> want = samples(c.expected);
    ASSERT_EQ(r.pcm.size(), want.size()) << c.script;
    EXPECT_TRUE(r.pcm == want) << c.script;
    EXPECT_EQ(r.lines.back(), "render samples=" + std::to_string(want.size()) + " rate=48000 channels=2");
  }
  // The whole track by (0, 0) stays.
  const Rendered r = render(a_, "cut 0 0");
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.lines[0], "op n=1 verb=cut result=0");
  EXPECT_TRUE(r.pcm == pa_);
}

// A blend over T frames mixes the last T frames of the pasted piece with the
// T frames after it, one gain per frame; the track shrinks by T frames.
TEST_F(TrackTest, BlendTransitionMixesFrameByFrame) {
  const int t_frames = 8;
  const Rendered r = render(a_, "insert " + b_ + " 1.2 4 " + std::to_string(t_frames * kFrame / 48000.0));
  ASSERT_EQ(r.rc, 0);
  const int at = frame_at(1.2);
  std::vector<int16_t> want(pa_.begin(), pa_.begin() + 2L * kFrame * at);
  want.insert(want.end(), pb_.begin(), pb_.end() - 2L * kFrame * t_frames);
  for (int k = 0; k < t_frames; ++k) {
    const int g = k * 256 / t_frames;
    for (int i = 0; i < 2 * kFrame; ++i) {
      const int x = pb_[pb_.size() - 2UL * kFrame * (t_frames - k) + size_t(i)];
      const int y = pa_[2UL * kFrame * (at + k) + size_t(i)];
      want.push_back(int16_t(g == 0 ? x : std::clamp((x * (256 - g) + y * g) >> 8, -32768, 32767)));
    }
  }
  want.insert(want.end(), pa_.begin() + 2L * kFrame * (at + t_frames), pa_.end());
  ASSERT_EQ(r.pcm.size(), want.size());
  EXPECT_TRUE(r.pcm == want);
}

// Gain envelopes (held outside their points), the output volume and the
// left channel alone.
TEST_F(TrackTest, GainVolumeAndChannels) {
  auto envelope = [](double t) {
    if (t <= 0.5) return 1.0;
    if (t >= 1.5) return 0.2;
    return 1.0 + (0.2 - 1.0) * (t - 0.5) / 1.0;
  };
  const double vol_gain = std::pow(10.0, DSAudio::attenuation_of(70) / 2000.0);
  struct Case {
    std::string script, extra;
    int (*expect)(const std::vector<int16_t>&, size_t, double (*)(double), double);
  };
  const std::vector<Case> cases = {
      {"gain 0 0.5 2 0.5", "", [](const std::vector<int16_t>& s, size_t i, double (*)(double), double) {
         return int(std::trunc(s[i] * 0.5));  // toward zero
       }},
      {"gain 0.5 1.0 1.5 0.2", "", [](const std::vector<int16_t>& s, size_t i, double (*e)(double), double) {
         return int(std::trunc(s[i] * e(double(i / 2) / 48000.0)));
       }},
      {"gain 0 4 2 4", "", [](const std::vector<int16_t>& s, size_t i, double (*)(double), double) {
         return std::clamp(int(s[i]) * 4, -32768, 32767);  // held in range, never wrapped
       }},
      {"cut 0 0.1", "--volume 70", [](const std::vector<int16_t>& s, size_t i, double (*)(double), double v) {
         return int(std::lround(s[i + 2 * frame_at(0.1) * kFrame] * v));
       }},
      {"gain 0 1 1 1", "--listen left", [](const std::vector<int16_t>& s, size_t i, double (*)(double), double) {
         return int(s[i & ~size_t(1)]);
       }},
  };
  for (const Case& c : cases) {
    const Rendered r = render(b_, c.script, c.extra);
    ASSERT_EQ(r.rc, 0) << c.script;
    size_t bad = 0;
    for (size_t i = 0; i < r.pcm.size(); ++i)
      if (std::abs(r.pcm[i] - c.expect(pb_, i, envelope, vol_gain)) > 1) ++bad;
    EXPECT_EQ(bad, 0u) << c.script << " " << c.extra;
  }
}

// Fades laid over a range by `effect` (one gain per frame, across a clip
// boundary too), kept through an undo snapshot, and removed again.
TEST_F(TrackTest, FadesOverARangeAndTheirRemoval) {
  const Model a = frames_of(pa_), b = frames_of(pb_);
  Model joined = a, joined2 = a;
  paste(&joined, b, 1.0);
  paste(&joined2, b, 1.2);
  struct Case {
    std::string script;
    const Model* model;
    int id;  // 1 fade in, 2 fade out, 0 none
    double start, length;
  };
  const std::vector<Case> cases = {
      {"effect 0.5 1 0.48", &a, 1, 0.5, 0.48},
      {"effect 0.5 2 0.48", &a, 2, 0.5, 0.48},
      {"insert " + b_ + " 1.0; effect 0.9 2 0.3", &joined, 2, 0.9, 0.3},
      {"effect 0.5 1 0.48; snapshot s; cut 0 0.1; replace s", &a, 1, 0.5, 0.48},
      {"effect 0.5 1 0.48; remove_effects 0.6 0", &a, 0, 0, 0},
      {"insert " + b_ + " 1.2 4 0.2; remove_effects 2.3 0", &joined2, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const Rendered r = render(a_, c.script);
    ASSERT_EQ(r.rc, 0) << c.script;
    for (const std::string& l : r.lines)
      if (l.rfind("op ", 0) == 0) EXPECT_EQ(tsupport::field(l, "result"), "1") << c.script << ": " << l;
    std::vector<int16_t> want = samples(*c.model);
    if (c.id) {
      const int f0 = frame_at(c.start), span = frame_at(c.start + c.length) - f0;
      for (int k = 0; k < span; ++k) {
        const int g = int(double(k) / span * 256.0);
        const int gain = c.id == 1 ? g : 256 - g;
        for (size_t i = 0; i < 2 * kFrame; ++i) {
          int16_t& x = want[2 * kFrame * size_t(f0 + k) + i];
          x = int16_t(gain <= 0 ? 0 : (x * gain) >> 8);
        }
      }
    }
    ASSERT_EQ(r.pcm.size(), want.size()) << c.script;
    EXPECT_TRUE(r.pcm == want) << c.script;
  }
  // Nothing to remove, and a range outside the track.
  const Rendered r = render(a_, "remove_effects 0.5 0; effect 9 1 1");
  EXPECT_EQ(r.lines[0], "op n=1 verb=remove_effects result=0");
  EXPECT_EQ(r.lines[1], "op n=2 verb=effect result=0");
  EXPECT_TRUE(r.pcm == pa_);
}

// The current clip reports itself and its stream's format as the track
// plays into it or seeks to it.
TEST_F(TrackTest, ClipAndFormatCallbacks) {
  const std::string mono = tsupport::temp_dir() + "/m.wav";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -f lavfi -i sine=f=300:r=44100:d=1 -ac 1 -af atrim=end_sample=" +
                          std::to_string(20 * kFrame) + " -c:a pcm_s16le -bitexact " + sh_quote(mono)),
            0);
  AudioEditor ed;
  int error = 1;
  ed.create(a_.c_str(), &error, 0, 0);
  ASSERT_EQ(error, 0);
  EClip piece;
  ASSERT_EQ(AudioEditor::load_project(mono.c_str(), &piece), 0);
  ASSERT_EQ(ed.paste(piece, 1.0, 0, 0), 1);
  std::vector<std::string> events;
  ed.set_clip_callback([&](const MPEG_Clip* c) { events.push_back("clip " + c->file_name); });
  ed.set_format_callback([&](int code) { events.push_back("format " + std::to_string(code)); });
  ed.goto_offset(0.0);
  for (int guard = 0; guard < 10000 && !ed.is_end(); ++guard) {
    int n = 0;
    ASSERT_TRUE(ed.get_pcm(&n));
    if (events.size() == 2) {
      EXPECT_EQ(ed.get_sample_rate(), 44100);
      EXPECT_EQ(ed.get_channels(), 1);
      EXPECT_EQ(ed.get_frame_period(), kFrame / 44100.0);
    }
  }
  const std::vector<std::string> want = {"clip " + mono, "format 1", "clip " + a_, "format 1"};
  EXPECT_EQ(events, want);
  events.clear();
  ed.goto_offset(1.2);
  ed.goto_offset(1.3);  // the same clip: no report
  EXPECT_EQ(events, std::vector<std::string>({"clip " + mono, "format 1"}));
  EXPECT_EQ(ed.get_bit_rate(), 44100 * 16);
}

// The movie's own list (whose overlays are picture effects) plays its sound
// untouched; the audio editor's track reads them as audio operations.
TEST_F(TrackTest, OverlaysAreAudioOperationsOnlyInTheAudioEditor) {
  EClip project;
  ASSERT_EQ(AudioEditor::load_project(a_.c_str(), &project), 0);
  MPEG_Clip* list = eclip_2_mpeg_clip(project, 0);
  ASSERT_TRUE(list);
  ASSERT_EQ(clip_add_overlay(list, 2, 0, 10), 1);  // fade out over frames 0-9
  for (const bool ops : {false, true}) {
    DATrack t;
    t.set_audio_ops(ops);
    ASSERT_EQ(t.init(list, 48000, 2), 0);
    int n = 0;
    const int16_t* pcm = t.get_pcm(2 * kFrame * 5, &n);
    ASSERT_TRUE(pcm);
    ASSERT_EQ(n, 2 * kFrame * 5);
    std::vector<int16_t> want(pa_.begin(), pa_.begin() + n);
    for (size_t i = 0; ops && i < want.size(); ++i) {
      const int g = 256 - int(double(i / (2 * kFrame)) / 10 * 256.0);
      want[i] = int16_t((want[i] * g) >> 8);
    }
    EXPECT_TRUE(std::equal(want.begin(), want.end(), pcm)) << "audio operations " << ops;
  }
  mpeg_clip_list_free(list);
}

// A 44.1 kHz clip in a 48 kHz track keeps its duration.
TEST_F(TrackTest, OtherRateKeepsDuration) {
  const std::string path = tsupport::temp_dir() + "/c.wav";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -f lavfi -i sine=f=300:r=44100:d=2 -ac 2 -af atrim=end_sample=" +
                          std::to_string(40 * kFrame) + " -c:a pcm_s16le -bitexact " + sh_quote(path)),
            0);
  const Rendered r = render(path, "", "--rate 48000");
  ASSERT_EQ(r.rc, 0);
  const double want = 40.0 * kFrame / 44100.0 * 48000.0 * 2;
  EXPECT_NEAR(double(r.pcm.size()), want, 2.0 * kFrame);
}

// Ranges of an mp2 file decode as ffmpeg decodes those samples, ranges of
// an AC-3 file as the AC-3 decoder decodes the whole file (its own tests
// hold it against ffmpeg); the first frame of each range may differ by the
// decoder's start.
TEST(Track, CompressedRangesDecodeAsTheWholeFile) {
  TSUPPORT_NEED_FIXTURES("mp2_44100.mp2", "ac3_48000_2ch.ac3");
  struct Case {
    const char* fixture;
    int rate, spf;
    bool ffmpeg;
  } cases[] = {{"mp2_44100.mp2", 44100, 1152, true}, {"ac3_48000_2ch.ac3", 48000, 1536, false}};
  for (const Case& c : cases) {
    const std::string file = tsupport::fixture(c.fixture);
    const std::string dec = tsupport::temp_dir() + "/dec";
    std::vector<int16_t> ref;
    if (c.ffmpeg) {
      ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -threads 1 -i " + sh_quote(file) +
                              " -ac 2 -c:a pcm_s16le -bitexact -f wav " + sh_quote(dec)),
                0);
      ref = wave_samples(dec);
    } else {
      std::vector<std::string> lines;
      ASSERT_EQ(tsupport::dev("ac3-decode " + sh_quote(file) + " " + sh_quote(dec), &lines), 0);
      const std::vector<uint8_t> b = tsupport::read_file(dec);
      for (size_t i = 0; i + 1 < b.size(); i += 2) ref.push_back(int16_t(b[i] | b[i + 1] << 8));
    }
    const Rendered r = render(file, "cut 1.0 0; cut 0 0.3", "--rate " + std::to_string(c.rate) + " --channels 2");
    ASSERT_EQ(r.rc, 0) << c.fixture;
    const double p = double(c.spf) / c.rate;
    const size_t fs = size_t(2 * c.spf);
    const size_t f0 = size_t(std::floor(0.3 / p)), f1 = size_t(std::floor(1.0 / p));
    ASSERT_EQ(r.pcm.size(), (f1 - f0) * fs) << c.fixture;
    ASSERT_GE(ref.size(), f1 * fs) << c.fixture;
    double sq = 0, sig = 0;
    int worst = 0;
    size_t n = 0;
    for (size_t i = fs; i < r.pcm.size(); ++i, ++n) {
      const int d = std::abs(r.pcm[i] - ref[f0 * fs + i]);
      worst = std::max(worst, d);
      sq += double(d) * d;
      sig += double(r.pcm[i]) * r.pcm[i];
    }
    if (c.ffmpeg) {
      EXPECT_LE(worst, 4) << c.fixture;
      EXPECT_LE(std::sqrt(sq / double(n)), 1.0) << c.fixture;
    } else {
      // AC-3 dithers zero-bit mantissas from a running generator that a
      // seek restarts: that noise, far below a misplaced frame.
      EXPECT_LE(std::sqrt(sq / double(n)), 0.02 * std::sqrt(sig / double(n))) << c.fixture;
    }
  }
}

// The equalizer's subband gains reach the MPEG audio decoder: all 1.0 is
// the plain decode, 0.5 halves it, a silenced right channel leaves the left.
TEST(Track, EqualizerGainsReachTheDecoder) {
  TSUPPORT_NEED_FIXTURES("mp2_44100.mp2");
  const std::string file = tsupport::fixture("mp2_44100.mp2");
  const Rendered plain = render(file, "cut 1.0 0");
  ASSERT_EQ(plain.rc, 0);
  ASSERT_GT(plain.pcm.size(), 2u * kFrame * 30);
  struct Case {
    const char* gains;
    double left, right;
  } cases[] = {{"1 1", 1.0, 1.0}, {"0.5 0.5", 0.5, 0.5}, {"1 0", 1.0, 0.0}};
  for (const Case& c : cases) {
    const Rendered r = render(file, std::string("equalizer ") + c.gains + "; cut 1.0 0");
    ASSERT_EQ(r.rc, 0) << c.gains;
    EXPECT_EQ(r.lines[0], "op n=1 verb=equalizer result=1");
    ASSERT_EQ(r.pcm.size(), plain.pcm.size()) << c.gains;
    int worst = 0;
    for (size_t i = 0; i < r.pcm.size(); ++i) {
      const double want = plain.pcm[i] * (i % 2 ? c.right : c.left);
      worst = std::max(worst, int(std::lround(std::fabs(r.pcm[i] - want))));
    }
    EXPECT_LE(worst, c.left == 1.0 && c.right == 1.0 ? 0 : 1) << c.gains;
  }
}

// Selecting another audio stream of the file plays it from the same time:
// the same sound as a track opened on that stream, with its format; an
// unknown stream leaves the track as it was.
TEST(Track, StreamSelectionThroughTheTrack) {
  TSUPPORT_NEED_FIXTURES("ts_ac3mp2.ts");
  const std::string file = tsupport::fixture("ts_ac3mp2.ts");
  int ids[4] = {}, pids[4] = {};
  double duration = 0;
  ASSERT_EQ(AudioEditor::get_audio_streams(file.c_str(), &duration, ids, pids, 4), 2);
  EXPECT_GT(duration, 1.0);
  auto pcm_from = [](AudioEditor* ed, double t) {
    ed->goto_offset(t);
    std::vector<int16_t> v;
    for (int k = 0; k < 20; ++k) {
      int n = 0;
      const int16_t* p = ed->get_pcm(&n);
      if (!p) break;
      v.insert(v.end(), p, p + n);
    }
    return v;
  };
  AudioEditor ed;
  int error = 1;
  ed.create(file.c_str(), &error, 48000, 2);
  ASSERT_EQ(error, 0);
  ed.goto_offset(0.5);
  const int first_rate = ed.get_bit_rate();
  const double first_period = ed.get_frame_period();  // AC-3 and MPEG audio frames differ
  std::vector<int> formats;
  ed.set_format_callback([&](int code) { formats.push_back(code); });
  // The stream not playing now.
  const int cur_id = ed.track()->current_clip()->audio_stream_id;
  const int other = ids[0] == cur_id ? 1 : 0;
  EXPECT_EQ(ed.set_abs_id(0x77, 0x777), 0);
  EXPECT_EQ(ed.get_bit_rate(), first_rate);
  ASSERT_EQ(ed.set_abs_id(ids[other], pids[other]), 1);
  EXPECT_NEAR(ed.get_time(), 0.5, 0.05);
  EXPECT_NE(ed.get_frame_period(), first_period);
  std::string probe;
  ASSERT_EQ(tsupport::run("ffprobe -v error -select_streams a:" + std::to_string(other) +
                              " -show_entries stream=bit_rate -of csv=p=0 " + sh_quote(file),
                          &probe),
            0);
  EXPECT_EQ(ed.get_bit_rate(), std::atoi(probe.c_str()));
  const std::vector<int16_t> got = pcm_from(&ed, 0.5);

  EClip project;
  ASSERT_EQ(AudioEditor::load_project(file.c_str(), &project), 0);
  project.clips[0].audio_stream_id = ids[other];
  project.clips[0].audio_pid = pids[other];
  const std::string lst = tsupport::temp_dir() + "/other.lst";
  ASSERT_EQ(project.save(lst.c_str()), 0);
  AudioEditor fresh;
  fresh.create(lst.c_str(), &error, 48000, 2);
  ASSERT_EQ(error, 0);
  const std::vector<int16_t> want = pcm_from(&fresh, 0.5);
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
}

// A sound frame keeps its format within 1-6 channels and 8-48 kHz and at
// most 9216 samples.
TEST(Track, SoundFrameHolder) {
  SoundFrame f;
  EXPECT_EQ(f.samples(), 2 * kFrame);
  EXPECT_DOUBLE_EQ(f.frame_period(), kFrame / 44100.0);
  struct Case {
    int rate, channels, result, samples;
  } cases[] = {{48000, 6, 0, 6 * kFrame}, {8000, 1, 0, kFrame}, {7999, 2, 1, kFrame}, {48001, 2, 1, kFrame},
               {44100, 0, 1, kFrame},    {44100, 7, 1, kFrame}};
  for (const Case& c : cases) {
    EXPECT_EQ(f.set_param(c.rate, c.channels), c.result) << c.rate << " " << c.channels;
    EXPECT_EQ(f.samples(), c.samples) << c.rate << " " << c.channels;
  }
  std::vector<int16_t> pcm(10000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(i);
  EXPECT_EQ(f.set_pcm(pcm.data(), 10000), SoundFrame::kMaxSamples);
  EXPECT_TRUE(std::equal(f.pcm(), f.pcm() + SoundFrame::kMaxSamples, pcm.begin()));
  EXPECT_EQ(f.set_pcm(nullptr, 5), 0);
  EXPECT_EQ(f.samples(), 0);
  EXPECT_EQ(f.pcm(), nullptr);
}

// A project of ranges of an mp2, a video-only, an AC-3 and a WAVE file
// through the WAV-file sink: each clip gives exactly its frames times
// samples per frame; the compressed ranges sound as ffmpeg decodes those
// samples, the WAVE range is the file's samples, the video-only clip zeros.
TEST(Track, MixedProjectGivesEachClipItsFrames) {
  TSUPPORT_NEED_FIXTURES("mp2_48000.mp2", "ac3_48000_2ch.ac3", "clips_v.m2v");
  const std::string dir = tsupport::temp_dir();
  const std::string wav = dir + "/w.wav";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -f lavfi -i anoisesrc=r=48000:d=1:a=0.2 -ac 2 -c:a pcm_s16le "
                          "-bitexact " + sh_quote(wav)),
            0);
  struct Piece {
    std::string file;
    int start, count, samples_per_frame;  // samples per frame in the track, per channel
    const char* kind;
  };
  const std::vector<Piece> pieces = {{tsupport::fixture("mp2_48000.mp2"), 10, 30, 1152, "mp2"},
                                     {tsupport::fixture("clips_v.m2v"), 0, 25, 1920, "video"},
                                     {tsupport::fixture("ac3_48000_2ch.ac3"), 5, 20, 1536, "ac3"},
                                     {wav, 3, 20, 1152, "wave"}};
  EClip project;
  for (const Piece& p : pieces) {
    EClip one;
    ASSERT_EQ(AudioEditor::load_project(p.file.c_str(), &one), 0) << p.file;
    one.clips[0].start = p.start;
    one.clips[0].count = p.count;
    project.clips.push_back(one.clips[0]);
  }
  const std::string lst = dir + "/mixed.lst";
  ASSERT_EQ(project.save(lst.c_str()), 0);
  const Rendered r = render(lst, "", "--rate 48000 --channels 2");
  ASSERT_EQ(r.rc, 0);
  std::string clips;
  for (const std::string& l : r.lines) clips += l + "\n";
  size_t at = 0;
  for (const Piece& p : pieces) {
    const size_t fs = 2 * size_t(p.samples_per_frame), n = fs * size_t(p.count);
    ASSERT_LE(at + n, r.pcm.size()) << p.kind << "\n" << clips;
    const std::vector<int16_t> got(r.pcm.begin() + long(at), r.pcm.begin() + long(at + n));
    at += n;
    if (std::string(p.kind) == "video") {
      EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](int16_t v) { return v == 0; }));
      continue;
    }
    const std::string dec = dir + "/dec.wav";
    ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -threads 1 -i " + sh_quote(p.file) +
                            " -ac 2 -c:a pcm_s16le -bitexact " + sh_quote(dec)),
              0);
    const std::vector<int16_t> ref = wave_samples(dec);
    const size_t from = fs * size_t(p.start);
    ASSERT_GE(ref.size(), from + n) << p.kind;
    if (std::string(p.kind) == "wave") {
      EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin() + long(from)));
      continue;
    }
    double sq = 0, sig = 0;
    int worst = 0;
    // The first frame may differ by the decoder's start.
    for (size_t i = fs; i < n; ++i) {
      const int d = std::abs(got[i] - ref[from + i]);
      worst = std::max(worst, d);
      sq += double(d) * d;
      sig += double(got[i]) * got[i];
    }
    const double rms = std::sqrt(sq / double(n - fs));
    if (std::string(p.kind) == "mp2") {
      EXPECT_LE(worst, 4) << "rms " << rms;
      EXPECT_LE(rms, 1.0) << "worst " << worst;
    } else {
      // Both AC-3 decoders dither zero-bit mantissas with their own noise.
      EXPECT_LE(rms, 0.02 * std::sqrt(sig / double(n - fs))) << "worst " << worst;
    }
  }
  EXPECT_EQ(at, r.pcm.size());
}

// WAVE clips come back from a saved project: a truncated file keeps the
// frames it still has, a file that is no WAVE (or gone) drops its clip.
TEST_F(TrackTest, WaveClipsOfASavedProject) {
  const std::string dir = tsupport::temp_dir();
  std::vector<uint8_t> bytes = tsupport::read_file(b_);
  bytes.resize(44 + 1000);
  const std::string cut_wave = dir + "/cut.wav", junk = dir + "/junk.wav";
  ASSERT_TRUE(tsupport::write_file(cut_wave, bytes));
  ASSERT_TRUE(tsupport::write_file(junk, std::vector<uint8_t>(3000, 0x5A)));
  EClip good;
  ASSERT_EQ(AudioEditor::load_project(a_.c_str(), &good), 0);
  EClip project;
  for (const std::string& f : {a_, cut_wave, junk, dir + "/gone.wav"}) {
    Clip c = good.clips[0];
    c.set_file_name(f.c_str());
    c.start = 3;
    c.count = 20;
    project.clips.push_back(c);
  }
  const std::string lst = dir + "/w.lst";
  ASSERT_EQ(project.save(lst.c_str()), 0);
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("track " + sh_quote(lst), &lines), 0);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, lines[0].find(" start_time")), "clip index=0 type=10 start=3 count=20");
  EXPECT_EQ(lines[1].substr(0, lines[1].find(" start_time")), "clip index=1 type=10 start=0 count=1");
  EXPECT_EQ(lines[2], "track length=" + std::to_string(21 * kFrame / 48000.0).substr(0, 8) + " clips=2");
}

}  // namespace

namespace {

// Frame sizes of an MPEG-1 layer II stream, walked from its headers.
std::vector<std::vector<uint8_t>> mp2_frames(const std::vector<uint8_t>& b) {
  static const int kbps[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
  static const int rates[4] = {44100, 48000, 32000, 0};
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at + 4 <= b.size();) {
    if (b[at] != 0xFF || (b[at + 1] & 0xFE) != 0xFC) break;
    const int br = kbps[b[at + 2] >> 4], sr = rates[(b[at + 2] >> 2) & 3];
    if (!br || !sr) break;
    const size_t n = size_t(144000 * br / sr + ((b[at + 2] >> 1) & 1));
    if (at + n > b.size()) break;
    frames.emplace_back(b.begin() + long(at), b.begin() + long(at + n));
    at += n;
  }
  return frames;
}

std::string run_stderr(const std::string& cmd) {
  std::string out;
  tsupport::run(cmd + " 2>&1", &out);
  return out;
}

}  // namespace

// Saving: an unchanged range in the source's format is its frames; with a
// gain it is encoded and decodes cleanly; a cancel with -1 leaves no file,
// with -2 a decodable one; a refused record leaves the target untouched.
TEST(Track, RecordCopiesEncodesCancelsAndRefuses) {
  TSUPPORT_NEED_FIXTURES("mp2_44100.mp2");
  const std::string dir = tsupport::temp_dir();
  // A copy: the record naming its own source must not reach the fixture.
  const std::string src = dir + "/src.mp2";
  const std::vector<uint8_t> src_bytes = tsupport::read_file(tsupport::fixture("mp2_44100.mp2"));
  ASSERT_TRUE(tsupport::write_file(src, src_bytes));
  const std::vector<std::vector<uint8_t>> frames = mp2_frames(src_bytes);
  ASSERT_GT(frames.size(), 60u);
  ASSERT_EQ(frames[0][2] >> 4, 11);  // 224 kbit/s
  const std::string keep = dir + "/keep.mp2";
  const std::vector<uint8_t> keep_bytes = {'k', 'e', 'e', 'p'};
  ASSERT_TRUE(tsupport::write_file(keep, keep_bytes));
  const std::string script = "record " + dir + "/copy.mp2 2 44100 2 224000 0.3 1.0; gain 0 0.5 5 0.5; record " + dir +
                             "/gain.mp2 2 44100 2 192000 0.3 1.0; record " + dir +
                             "/c1.mp2 2 44100 2 192000 0 1.5 --cancel-at 30 -1; record " + dir +
                             "/c2.mp2 2 44100 2 192000 0 1.5 --cancel-at 30 -2; record " + keep +
                             " 3 44100 2 192000 0 1; record " + src + " 2 44100 2 192000 0 1";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("track " + sh_quote(src) + " --script " + sh_quote(script), &lines), 0);
  std::vector<std::string> rec;
  for (const std::string& l : lines)
    if (l.rfind("record ", 0) == 0) rec.push_back(l);
  const double p = kFrame / 44100.0;
  const int f0 = int(std::floor(0.3 / p)), f1 = int(std::floor(1.3 / p));
  ASSERT_EQ(rec.size(), 6u);
  EXPECT_EQ(rec[0], "record result=ok frames=" + std::to_string(f1 - f0));
  std::vector<uint8_t> want;
  for (int i = f0; i < f1; ++i) want.insert(want.end(), frames[size_t(i)].begin(), frames[size_t(i)].end());
  EXPECT_TRUE(tsupport::read_file(dir + "/copy.mp2") == want);

  EXPECT_EQ(rec[1], "record result=ok frames=" + std::to_string(f1 - f0));
  EXPECT_EQ(run_stderr("ffmpeg -nostdin -v error -i " + sh_quote(dir + "/gain.mp2") + " -f null -"), "");
  if (tsupport::have_program("mpg123")) {
    EXPECT_EQ(tsupport::run("mpg123 -q -w " + sh_quote(dir + "/gain.wav") + " " + sh_quote(dir + "/gain.mp2")), 0);
  }

  EXPECT_EQ(tsupport::field(rec[2], "result"), "cancelled");
  EXPECT_TRUE(tsupport::read_file(dir + "/c1.mp2").empty());
  EXPECT_EQ(tsupport::field(rec[3], "result"), "cancelled");
  EXPECT_GT(tsupport::field_int(rec[3], "frames"), 0);
  EXPECT_EQ(run_stderr("ffmpeg -nostdin -v error -i " + sh_quote(dir + "/c2.mp2") + " -f null -"), "");

  // A fade over the range changes its sound: encoded, not copied.
  lines.clear();
  ASSERT_EQ(tsupport::dev("track " + sh_quote(src) + " --script " +
                              sh_quote("effect 0.3 2 0.5; record " + dir + "/fade.mp2 2 44100 2 224000 0.3 1.0"),
                          &lines),
            0);
  EXPECT_EQ(lines[1], "record result=ok frames=" + std::to_string(f1 - f0));
  const std::vector<uint8_t> fade = tsupport::read_file(dir + "/fade.mp2");
  EXPECT_FALSE(fade == want);
  EXPECT_EQ(run_stderr("ffmpeg -nostdin -v error -i " + sh_quote(dir + "/fade.mp2") + " -f null -"), "");

  EXPECT_EQ(rec[4], "record result=failed frames=0");  // layer III
  EXPECT_EQ(rec[5], "record result=failed frames=0");  // its own source
  EXPECT_TRUE(tsupport::read_file(keep) == keep_bytes);
  EXPECT_TRUE(tsupport::read_file(src) == src_bytes);
}
