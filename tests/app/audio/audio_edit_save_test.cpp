// Saves of the edited track through the real engine, judged by ffprobe
// and ffmpeg's decode of the source.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "app/audio/audio_edit.h"
#include "support.h"
#include "tests/app/audio/fake_track.h"

namespace {

using tsupport::run;
using tsupport::sh_quote;

// Interleaved 16-bit samples of ffmpeg's decode (range in seconds, at a
// rate and channel count).
std::vector<int16_t> decode(const std::string& file, double from, double length, int rate, int channels) {
  const std::string out = tsupport::test_dir() + "/ref.raw";
  char range[96] = "";
  if (length > 0) std::snprintf(range, sizeof range, " -ss %.4f -t %.4f", from, length);
  EXPECT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + sh_quote(file) + range + " -ar " + std::to_string(rate) +
                " -ac " + std::to_string(channels) + " -f s16le " + sh_quote(out)),
            0);
  const std::vector<uint8_t> b = tsupport::read_file(out);
  std::vector<int16_t> v(b.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(b[2 * i] | b[2 * i + 1] << 8);
  return v;
}

// Best normalised correlation of got against ref over lags within one
// frame (in sample frames of `channels` samples).
double correlation(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, int channels) {
  double best = -2;
  for (int lag = -1152; lag <= 1152; ++lag) {
    double c = 0, a = 0, g = 0;
    for (size_t i = 2000; i + 2000 < ref.size(); i += 13) {
      const long j = long(i) + long(lag) * channels;
      if (j < 0 || size_t(j) >= got.size()) continue;
      c += double(ref[i]) * got[size_t(j)];
      a += double(ref[i]) * ref[i];
      g += double(got[size_t(j)]) * got[size_t(j)];
    }
    if (a > 0 && g > 0) best = std::max(best, c / std::sqrt(a * g));
  }
  return best;
}

std::string probe(const std::string& file) {
  std::string out;
  run("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate:format=duration -of "
      "default=nw=1 " +
          sh_quote(file),
      &out);
  return out;
}

double probe_duration(const std::string& text) {
  const size_t at = text.find("duration=");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + 9);
}

bool decodes_silently(const std::string& file) {
  std::string err;
  return run("ffmpeg -nostdin -v error -i " + sh_quote(file) + " -f null - 2>&1", &err) == 0 && err.empty();
}

struct EditSaveTest : ::testing::Test {
  FakePlatform fake;
  std::unique_ptr<AudioPlayer> player;
  std::unique_ptr<AudioEditCommands> ed;
  std::string src;

  void SetUp() override {
    for (const char* tool : {"ffmpeg", "ffprobe"})
      if (!tsupport::have_program(tool)) GTEST_SKIP() << tool << " is missing";
    // A sweep whose pitch changes every tenth of a second: any shift or
    // wrong piece shows in the correlation.
    src = tsupport::test_dir() + "/sweep.mp2";
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                  "\"aevalsrc=0.4*sin(2*PI*(300+37*floor(10*t))*t)|0.4*sin(2*PI*(900+53*floor(10*t))*t):s=44100:d=10\" "
                  "-c:a mp2 -b:a 224k " +
                  sh_quote(src)),
              0);
    AudioPlayer::Deps d;
    d.make_sink = [] { return std::make_unique<FakeAudioSink>(); };
    d.clock = &fake.clock;
    player = std::make_unique<AudioPlayer>(std::move(d));
    player->OpenTrack(src);
    ASSERT_TRUE(player->has_track());
    player->StopPlay();
    ASSERT_TRUE(player->EnterEditor());
    ed = std::make_unique<AudioEditCommands>(player.get());
  }

  // A save through the dialog's rules, waited for.
  std::string save(const std::string& name, double start, double length, int layer, int rate_index, int channels,
                   int bit_rate) {
    const std::string out = tsupport::test_dir() + "/" + name;
    ed->PrepareSaveSettings(tsupport::test_dir());
    CAudioSaveDlg dlg(&ed->save_settings());
    dlg.on_save = [this](const std::string&) { ed->ExecuteAudioEditCommand(kAudioSave); };
    dlg.OnInitDialog();
    dlg.LengthChanged(std::to_string(length));
    dlg.StartChanged(std::to_string(start));
    dlg.SetLayer(layer);
    dlg.SelectSampleRate(rate_index);
    dlg.SetChannels(channels);
    const int* row = CAudioSaveDlg::bit_rate_row(layer);
    for (int i = 0; i < 14; ++i)
      if (row[i] == bit_rate) dlg.SelectBitRate(i);
    EXPECT_TRUE(dlg.OnSave(out));
    EXPECT_TRUE(ed->save_running());
    while (ed->save_running()) {
      ed->SaveTick();
      std::this_thread::yield();
    }
    EXPECT_TRUE(fake.prompter.shown.empty()) << fake.prompter.last_text();
    return out;
  }
};

TEST_F(EditSaveTest, RangeSavedAtEachFormat) {
  struct Case {
    int layer, rate_index, rate, channels, bit_rate;
    const char* codec;
  } cases[] = {
      {2, 1, 48000, 2, 192000, "mp2"},
      {1, 2, 32000, 1, 128000, "mp1"},
      {2, 0, 44100, 2, 128000, "mp2"},
  };
  for (const Case& c : cases) {
    const std::string out = save("range.mpa", 1.0, 2.5, c.layer, c.rate_index, c.channels, c.bit_rate);
    const std::string info = probe(out);
    SCOPED_TRACE(info);
    EXPECT_NE(info.find(std::string("codec_name=") + c.codec), std::string::npos);
    EXPECT_NE(info.find("sample_rate=" + std::to_string(c.rate)), std::string::npos);
    EXPECT_NE(info.find("channels=" + std::to_string(c.channels)), std::string::npos);
    EXPECT_NE(info.find("bit_rate=" + std::to_string(c.bit_rate)), std::string::npos);
    // The track is cut in frames of 1152 samples.
    EXPECT_NEAR(probe_duration(info), 2.5, 1152.0 / c.rate + 1e-3);
    EXPECT_TRUE(decodes_silently(out));
    EXPECT_GE(correlation(decode(src, 1.0, 2.5, c.rate, c.channels), decode(out, 0, 0, c.rate, c.channels), c.channels),
              0.99);
  }
}

TEST_F(EditSaveTest, CutThenUndoSaveWhatThePlayerHolds) {
  player->Seek(100);
  ed->MarkIn();
  player->Seek(200);
  ed->MarkOut();
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioCut), 1);
  ASSERT_NEAR(player->length(), 8.99, 0.03);
  const std::string cut = save("cut.mp2", 0, player->length(), 2, 0, 2, 224000);
  EXPECT_NEAR(probe_duration(probe(cut)), 8.99, 1152.0 / 44100 + 1e-3);
  EXPECT_TRUE(decodes_silently(cut));
  // Each side of the cut matches the source within a frame.
  const std::vector<int16_t> got = decode(cut, 0, 0, 44100, 2);
  const auto at = got.begin() + 44100 * 2;
  EXPECT_GE(correlation(decode(src, 0, 1.0, 44100, 2), std::vector<int16_t>(got.begin(), at), 2), 0.99);
  EXPECT_GE(correlation(decode(src, 2.01, 7.99, 44100, 2), std::vector<int16_t>(at, got.end()), 2), 0.99);

  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 1);
  const std::string undone = save("undone.mp2", 0, player->length(), 2, 0, 2, 224000);
  EXPECT_NEAR(probe_duration(probe(undone)), 10.0, 1152.0 / 44100 + 1e-3);
  EXPECT_GE(correlation(decode(src, 0, 0, 44100, 2), decode(undone, 0, 0, 44100, 2), 2), 0.99);
}

}  // namespace

namespace {

TEST_F(EditSaveTest, InsertedPieceOfAnotherFile) {
  const std::string noise = tsupport::test_dir() + "/noise.mp2";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i anoisesrc=d=5:c=white:r=44100:a=0.3 -ac 2 -c:a mp2 "
                "-b:a 224k " +
                sh_quote(noise)),
            0);
  // Damaged or unknown operators: said, and the track stays.
  const std::string junk = tsupport::test_dir() + "/junk.mp2";
  tsupport::write_file(junk, std::vector<uint8_t>(3000, 0x5a));
  int so = 0, eo = 0;
  double sl = 0, el = 0;
  AudioInsertOutcome bad = ApplyAudioInsertOperator(*player->track(), junk, 1, 2, 3, 10, &so, &sl, &eo, &el);
  EXPECT_EQ(bad.kind, 0);
  EXPECT_EQ(fake.prompter.last_text(), "<" + junk + ">: NOT a valid audio input file");
  EXPECT_NEAR(player->track()->get_length(), 10.0, 0.03);
  fake.prompter.shown.clear();

  so = 99;
  sl = 1;
  eo = 98;
  el = 1;
  AudioInsertOutcome o = ApplyAudioInsertOperator(*player->track(), noise, 1, 2, 3, 10, &so, &sl, &eo, &el);
  EXPECT_EQ(fake.prompter.texts(),
            (std::vector<std::string>{"Selected start operator not found", "Selected ending operator not found"}));
  EXPECT_EQ(so, 0);
  EXPECT_EQ(eo, 0);
  fake.prompter.shown.clear();
  ASSERT_EQ(o.kind, 3);
  ASSERT_EQ(ed->CommitInsert(std::move(o)), 1);
  const std::string out = save("inserted.mp2", 0, player->length(), 2, 0, 2, 224000);
  EXPECT_NEAR(probe_duration(probe(out)), 12.0, 2 * 1152.0 / 44100);
  const std::vector<int16_t> got = decode(out, 0, 0, 44100, 2);
  auto part = [&](double a, double b) {
    return std::vector<int16_t>(got.begin() + long(a * 44100) * 2, got.begin() + std::min<long>(long(b * 44100) * 2, long(got.size())));
  };
  EXPECT_GE(correlation(decode(src, 0, 3, 44100, 2), part(0, 3), 2), 0.99);
  EXPECT_GE(correlation(decode(noise, 1, 2, 44100, 2), part(3, 5), 2), 0.9);
  EXPECT_GE(correlation(decode(src, 3, 7, 44100, 2), part(5, 12), 2), 0.99);
  // Undo takes it out again.
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 1);
  EXPECT_NEAR(player->length(), 10.0, 0.03);

  // With a one-second beginning fade the piece starts quiet.
  so = 1;
  sl = 1;
  eo = 0;
  el = 0;
  ASSERT_EQ(ed->CommitInsert(ApplyAudioInsertOperator(*player->track(), noise, 1, 2, 3, 10, &so, &sl, &eo, &el)), 1);
  const std::string faded = save("faded.mp2", 3, 2, 2, 0, 2, 224000);
  const std::vector<int16_t> f = decode(faded, 0, 0, 44100, 2);
  auto power = [&](size_t a, size_t b) {
    double e = 0;
    for (size_t i = a; i < b && i < f.size(); ++i) e += double(f[i]) * f[i];
    return e / double(b - a) + 1e-9;
  };
  const size_t tenth = 4410 * 2;
  ASSERT_GE(f.size(), 20 * tenth / 2 - tenth);
  EXPECT_LE(10 * std::log10(power(0, tenth) / power(f.size() - 2 * tenth, f.size() - tenth)), -20.0);
}

}  // namespace

namespace {

TEST_F(EditSaveTest, ProjectSaveRendersAsTheEditedTrack) {
  player->Seek(100);
  ed->MarkIn();
  player->Seek(200);
  ed->MarkOut();
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioCut), 1);
  const std::string project = tsupport::test_dir() + "/edited.qme";
  ed->PrepareSaveSettings(tsupport::test_dir());
  CAudioSaveDlg dlg(&ed->save_settings());
  dlg.on_save = [this](const std::string&) { ed->ExecuteAudioEditCommand(kAudioSave); };
  dlg.OnInitDialog();
  dlg.SetFormat(0);
  ASSERT_TRUE(dlg.OnSave(project));
  EXPECT_FALSE(ed->save_running());
  const std::string wav = tsupport::test_dir() + "/edited.wav";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("track " + sh_quote(project) + " --out " + sh_quote(wav), &lines), 0);
  const std::vector<int16_t> got = decode(wav, 0, 0, 44100, 2);
  EXPECT_NEAR(double(got.size()) / 2 / 44100, player->length(), 1152.0 / 44100);
  const auto at = got.begin() + 44100 * 2;
  EXPECT_GE(correlation(decode(src, 0, 1.0, 44100, 2), std::vector<int16_t>(got.begin(), at), 2), 0.99);
  EXPECT_GE(correlation(decode(src, 2.01, 7.99, 44100, 2), std::vector<int16_t>(at, got.end()), 2), 0.99);
}

}  // namespace

namespace {

TEST_F(EditSaveTest, StopKeepsAPrefixOrLeavesNothing) {
  const std::string longer = tsupport::test_dir() + "/minute.mp2";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=f=500:r=44100:d=60 -ac 2 -c:a mp2 -b:a 224k " +
                sh_quote(longer)),
            0);
  player->OpenTrack(longer);
  player->StopPlay();
  ASSERT_NEAR(player->length(), 60.0, 0.1);
  for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
    const std::string out = tsupport::test_dir() + (answer == PromptAnswer::No ? "/kept.mp2" : "/deleted.mp2");
    ed->PrepareSaveSettings(tsupport::test_dir());
    AudioSaveSettings& s = ed->save_settings();
    s.file_name = out;
    s.length = s.total;
    s.layer = 2;
    s.sample_rate = 48000;  // re-encoded: slow enough to be stopped
    s.channels = 2;
    s.bit_rate = 192000;
    ASSERT_EQ(ed->StartSave(), 1);
    while (ed->job().status() < 10 && ed->save_running()) std::this_thread::yield();
    ASSERT_NE(ed->job().progress(), nullptr);
    fake.prompter.answers.push_back(answer);
    ed->job().progress()->on_stop();
    while (ed->save_running()) {
      ed->SaveTick();
      std::this_thread::yield();
    }
    EXPECT_FALSE(std::filesystem::exists(out + ".part"));
    if (answer == PromptAnswer::Yes) {
      EXPECT_FALSE(std::filesystem::exists(out));
    } else {
      ASSERT_TRUE(std::filesystem::exists(out));
      const double d = probe_duration(probe(out));
      EXPECT_GT(d, 1.0);
      EXPECT_LT(d, 59.0);
      EXPECT_TRUE(decodes_silently(out));
    }
    EXPECT_EQ(fake.prompter.last_text(), "<" + out + ">: the audio save was stopped");
    fake.prompter.shown.clear();
  }
  // The track and its length are as they were.
  EXPECT_NEAR(player->length(), 60.0, 0.1);
}

}  // namespace
