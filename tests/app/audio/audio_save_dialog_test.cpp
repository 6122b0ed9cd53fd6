#include "app/audio/audio_save_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/fakes.h"
#include "support.h"

namespace {

struct SaveDlgTest : ::testing::Test {
  FakePlatform fake;
  AudioSaveSettings s;
  std::map<std::string, ClipAudioFormat> formats;
  std::vector<std::string> requests;
  // Each test its own folder: ctest runs the cases side by side.
  std::string dir = tsupport::test_dir() + "/";

  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }

  void make(std::vector<std::string> files, double total) {
    s = AudioSaveSettings();
    s.clips = std::make_unique<EClip>();
    for (const std::string& f : files) {
      Clip c;
      c.set_file_name(f.c_str());
      s.clips->clips.push_back(c);
    }
    s.total = total;
  }
  std::unique_ptr<CAudioSaveDlg> open() {
    auto d = std::make_unique<CAudioSaveDlg>(&s, [this](const Clip& c, ClipAudioFormat* out) {
      auto it = formats.find(c.get_file_name() ? c.get_file_name() : "");
      if (it == formats.end()) return false;
      *out = it->second;
      return true;
    });
    d->on_save = [this](const std::string& folder) { requests.push_back(s.file_name + "|" + folder); };
    d->OnInitDialog();
    return d;
  }
};

TEST_F(SaveDlgTest, ParametersFromTheClipMadeValid) {
  formats["/m/a.mp2"] = {22050, 2, 3, 8000};
  formats["/m/b.mp2"] = {48000, 1, 1, 448000};
  make({"/m/a.mp2", "/m/a.mp2", "/m/b.mp2"}, 22.0);
  auto d = open();
  // Two clips of one file: one entry.
  EXPECT_EQ(d->clip_names(), (std::vector<std::string>{"/m/a.mp2", "/m/b.mp2"}));
  EXPECT_EQ(s.sample_rate, 44100);
  EXPECT_EQ(s.layer, 2);
  EXPECT_EQ(s.bit_rate, 128000);
  EXPECT_EQ(s.channels, 2);
  EXPECT_EQ(d->sample_rate_texts()[0], " 44.1 kHz ");
  EXPECT_EQ(d->bit_rate_texts()[7], " 128 kbs ");
  // The clip is 22.05 kHz: the record differs from it.
  EXPECT_TRUE(d->reset_enabled());
  d->SelectClip(1);
  EXPECT_EQ(s.sample_rate, 48000);
  EXPECT_EQ(s.channels, 1);
  EXPECT_EQ(s.layer, 1);
  EXPECT_EQ(s.bit_rate, 448000);
  EXPECT_FALSE(d->reset_enabled());
  d->SetLayer(2);  // 448 kb/s is not a layer II rate: the first entry
  EXPECT_EQ(s.bit_rate, 32000);
  EXPECT_TRUE(d->reset_enabled());
  d->SelectBitRate(7);
  d->SetLayer(1);  // 128 kb/s is on both rows
  EXPECT_EQ(s.bit_rate, 128000);
  d->SelectBitRate(13);
  EXPECT_FALSE(d->reset_enabled());  // back to the clip's own
  d->SetChannels(2);
  EXPECT_TRUE(d->reset_enabled());
  // A record already set keeps its values when they are valid.
  s.sample_rate = 32000;
  s.bit_rate = 1000;
  s.layer = 3;
  auto d2 = open();
  EXPECT_EQ(s.sample_rate, 32000);
  EXPECT_EQ(s.layer, 2);
  EXPECT_EQ(s.bit_rate, 128000);
}

TEST_F(SaveDlgTest, RangeEditsAndEstimate) {
  make({"/m/a.mp2"}, 22.0);
  auto d = open();
  EXPECT_EQ(s.length, 22.0);
  d->LengthChanged("20");
  d->StartChanged("5");
  EXPECT_EQ(s.length, 17.0);
  EXPECT_EQ(d->length_text(), " 17.0 ");
  d->StartChanged("30");
  EXPECT_EQ(s.start, 0.0);
  EXPECT_EQ(s.length, 22.0);
  EXPECT_EQ(d->start_text(), " 0.0 ");  // the corrected start is shown
  d->StartChanged("abc");                // reads as 0: unchanged
  EXPECT_EQ(s.start, 0.0);
  d->LengthChanged("60");
  s.layer = 2;
  s.bit_rate = 128000;
  EXPECT_EQ(d->estimate_text(), "0.960");
  d->SetFormat(0);
  EXPECT_EQ(d->estimate_text(), "0.000");
  EXPECT_FALSE(d->encoder_enabled());
  d->SetFormat(1);
  d->StartChanged("3");
  d->LengthChanged("4");
  d->All();
  EXPECT_EQ(s.start, 0.0);
  EXPECT_EQ(s.length, 22.0);
}

TEST_F(SaveDlgTest, ChecksOfASaveRequest) {
  const std::string src = dir + "a.mp2";
  { std::ofstream(src) << "source"; }
  make({src}, 60.0);
  auto d = open();
  // No name.
  EXPECT_FALSE(d->OnSave("  "));
  EXPECT_EQ(fake.prompter.last_text(), "No file name specified");
  // A source of the track: refused, the file untouched.
  EXPECT_FALSE(d->OnSave(src));
  EXPECT_EQ(fake.prompter.last_text(), "File sharing error:\n\t<" + src + "> is in use.\nPlease select a new file name.\n");
  EXPECT_EQ(std::filesystem::file_size(src), 6u);
  // An existing file that cannot be written.
  const std::string old = dir + "old.mp2";
  { std::ofstream(old) << "kept"; }
  fake.file_use.refuse_write.insert(old);
  EXPECT_FALSE(d->OnSave(old));
  EXPECT_EQ(fake.prompter.last_text(), "<" + old + ">: cannot open for writing");
  fake.file_use.refuse_write.clear();
  // Not enough room on the output's file system; an existing file is
  // not emptied by the check.
  fake.disk.free[dir] = 100.0;
  EXPECT_FALSE(d->OnSave(old));
  EXPECT_EQ(fake.prompter.last_text(), "Not enough space left on the disk.\nPlease check again.");
  EXPECT_EQ(std::filesystem::file_size(old), 4u);
  EXPECT_TRUE(requests.empty());
  // A project file needs no room check.
  d->SetFormat(0);
  d->folder = dir;
  EXPECT_TRUE(d->OnSave(old));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], old + "|" + dir);
  EXPECT_FALSE(d->save_enabled());
  // The name is emptied: a second Save has none.
  EXPECT_EQ(s.file_name, "");
  EXPECT_FALSE(d->OnSave(s.file_name));
  EXPECT_EQ(fake.prompter.last_text(), "No file name specified");
}

}  // namespace
