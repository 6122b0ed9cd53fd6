// The settings file: every field through a write and a read, the defaults
// against a golden file, each key's checks line by line, files that are
// not settings, and the configuration folder (found, made, or not there).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include "access/dtv.h"
#include "app/shell/editor_settings.h"
#include "config_dir.h"
#include "engine/clips/file_info.h"
#include "platform/dsaudio.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

std::string write_text(const std::string& name, const std::string& text) {
  const std::string path = tsupport::test_dir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string written(const EditorSettings& s) {
  const std::string path = tsupport::test_dir() + "/written.cfg";
  EXPECT_EQ(s.write(path), 1);
  std::string text;
  std::ifstream f(path, std::ios::binary);
  text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return text;
}

// The process-wide audio values at their start values, for tests that
// compare whole files.
struct AudioDefaults {
  AudioDefaults() { set(40, 1, 1); }
  ~AudioDefaults() { set(40, 1, 1); }
  static void set(int v, int l, int r) {
    audio_volume = v;
    audio_channel_left = l;
    audio_channel_right = r;
  }
};

void change_every_field(EditorSettings& s) {
  s.jump_format = 2;
  s.spare_jump_frames = 11;
  s.jump_frames = 151;
  s.spare_jump_seconds = 1.5;
  s.jump_seconds = 12.25;
  s.spare_jump_percent = 3;
  s.jump_percent = 25;
  for (int c = 1; c <= kKeyCount; ++c) s.keys[c - 1] = 0x40 + c;
  s.image_size = 1;
  s.field_mode = 1;
  s.active_page = 4;
  s.display_time_code = 0;
  s.video_looping = 1;
  s.image_color = 16;
  s.me_algorithm = 2;
  s.transition_length = 2.5;
  s.image_length = 7.125;
  s.audio_crc = 1;
  s.undo_size = 40;
  s.save_type = 8;
  s.full_scan = 1;
  s.muxer_type = 3;
  s.pmt_pid = 256;
  s.video_pid = 257;
  s.audio_pid = 258;
  s.encoder_temporal_filter = 1;
  s.encoder_deinterlace_filter = 1;
  s.encoder_scene_change = 1;
  s.encoder_inverse_telecine = 1;
  for (int i = 0; i < 3; ++i) {
    s.convertor_in_columns[i] = 100 + i;
    s.convertor_out_columns[i] = 200 + i;
  }
  s.window_rect[0] = 10;
  s.window_rect[1] = 20;
  s.window_rect[2] = 810;
  s.window_rect[3] = 620;
  s.window_zoomed = 1;
  s.show_splash = 0;
  s.show_min_size_info = 0;
  s.select_min_size = 1;
  s.open_folder = "/media/open/";
  s.load_folder = "/media/load/";
  s.save_folder = "/media/save/";
  s.trim_folder = "/media/trim/";
  s.image_extension = ".jpg";
  s.muxer_in_folder = "/mux/in/";
  s.muxer_out_folder = "/mux/out/";
  s.demuxer_in_folder = "/demux/in/";
  s.demuxer_out_folder = "/demux/out/";
  s.convertor_in_folder = "C:\\conv\\in\\";
  s.convertor_out_folder = "C:\\conv\\out\\";
  s.av_sync_range = 1500;
  s.mbs_scan_auto_start = 0;
}

class SettingsTest : public ::testing::Test {
 protected:
  FakePlatform platform_;
  AudioDefaults audio_;
};

TEST_F(SettingsTest, EveryFieldSurvivesWriteAndRead) {
  EditorSettings out;
  change_every_field(out);
  AudioDefaults::set(66, 0, 1);
  const std::string text = written(out);
  AudioDefaults::set(40, 1, 1);

  EditorSettings in;
  ASSERT_EQ(in.read(tsupport::test_dir() + "/written.cfg"), 1);
  EXPECT_EQ(audio_volume.load(), 66);
  EXPECT_EQ(audio_channel_left.load(), 0);
  EXPECT_EQ(audio_channel_right.load(), 1);
  EXPECT_EQ(EditorSettings::compare_key_map(in, out), 0);
  EXPECT_EQ(in.key(KeyCommand::FileInformation), 0x40 + 29);
  EXPECT_EQ(in.convertor_in_folder, "C:\\conv\\in\\");
  EXPECT_EQ(in.image_length, 7.125);
  EXPECT_EQ(in.window_rect[2], 810);
  EXPECT_EQ(in.save_type, 8);
  // Whatever a field holds, writing the record read back gives the same
  // file.
  EXPECT_EQ(written(in), text);
}

TEST_F(SettingsTest, DefaultsAreTheGoldenFile) {
  const std::string text = written(EditorSettings());
  std::ifstream f(tsupport::data_file("settings_defaults.cfg"), std::ios::binary);
  const std::string golden((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(text, golden);
}

TEST_F(SettingsTest, DefaultKeysAreTheCommandsOwn) {
  const EditorSettings s;
  const struct {
    KeyCommand command;
    char key;
  } cases[] = {{KeyCommand::PlayForward, 'D'}, {KeyCommand::PageUp, 'K'},      {KeyCommand::PageDown, 'J'},
               {KeyCommand::TrimLeft, 'R'},    {KeyCommand::Redo, 'N'},        {KeyCommand::GotoInsert, '1'},
               {KeyCommand::GotoMarkIn, '3'},  {KeyCommand::GotoMarkOut, '2'}, {KeyCommand::FileInformation, '0'}};
  for (const auto& c : cases) EXPECT_EQ(s.key(c.command), c.key) << key_command_label(int(c.command));
  EXPECT_STREQ(key_command_label(18), "Redo");
  EXPECT_STREQ(key_command_label(30), "");
}

// One settings file of a few lines, then a look at the record.
struct LineCase {
  const char* name;
  std::string text;
  std::function<void(const EditorSettings&)> check;
};

TEST_F(SettingsTest, EachKeyTakesOnlyItsValues) {
  platform_.screen.w = 1024;
  platform_.screen.h = 768;
  const std::string long_value(5000, 'x');
  const LineCase cases[] = {
      {"undo 7 refused", "Undo Size 7\n", [](auto& s) { EXPECT_EQ(s.undo_size, 16); }},
      {"undo 8 taken", "Undo Size 8\n", [](auto& s) { EXPECT_EQ(s.undo_size, 8); }},
      {"undo 64 taken", "Undo Size 64\n", [](auto& s) { EXPECT_EQ(s.undo_size, 64); }},
      {"undo 65 refused", "Undo Size 65\n", [](auto& s) { EXPECT_EQ(s.undo_size, 16); }},
      {"image size 5", "Image Size 5\n", [](auto& s) { EXPECT_EQ(s.image_size, 2); }},
      {"ImageSizeNegativeTakesNonNegativeRemainder", "Image Size -1\nKeyboard Jump Format -2\n",
       [](auto& s) {
         EXPECT_EQ(s.image_size, 2);
         EXPECT_EQ(s.jump_format, 1);
       }},
      {"image color 32", "Image Color 32\n", [](auto& s) { EXPECT_EQ(s.image_color, 8); }},
      {"image color 16", "Image Color 16\n", [](auto& s) { EXPECT_EQ(s.image_color, 16); }},
      {"pmt pid equal to video refused", "Program Map Table PID 32\n", [](auto& s) { EXPECT_EQ(s.pmt_pid, 64); }},
      {"pids in file order", "Video ES PID 100\nProgram Map Table PID 32\n",
       [](auto& s) {
         EXPECT_EQ(s.video_pid, 100);
         EXPECT_EQ(s.pmt_pid, 32);
       }},
      {"pids swapped keep both", "Video ES PID 33\nAudio ES PID 32\n",
       [](auto& s) {
         EXPECT_EQ(s.video_pid, 32);
         EXPECT_EQ(s.audio_pid, 33);
       }},
      {"pid out of range", "Audio ES PID 8191\n", [](auto& s) { EXPECT_EQ(s.audio_pid, 33); }},
      {"looping with anything after", "Video Looping whatever\n", [](auto& s) { EXPECT_EQ(s.video_looping, 1); }},
      {"key map 1-7, 9, 8", "Keyboard Key Map 1 2 3 4 5 6 7 8 9\n",
       [](auto& s) {
         EXPECT_EQ(s.key(KeyCommand::StepBackward), 7);
         EXPECT_EQ(s.key(KeyCommand::PageDown), 8);
         EXPECT_EQ(s.key(KeyCommand::PageUp), 9);
       }},
      {"key map ex 10-29",
       "Keyboard Key Map Ex 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29\n",
       [](auto& s) {
         EXPECT_EQ(s.key(KeyCommand::MarkIn), 10);
         EXPECT_EQ(s.key(KeyCommand::FileInformation), 29);
         EXPECT_EQ(s.key(KeyCommand::PlayForward), 'D');
       }},
      {"key map short line ignored", "Keyboard Key Map 1 2 3\n",
       [](auto& s) { EXPECT_EQ(s.key(KeyCommand::PlayForward), 'D'); }},
      {"window on screen", "Initial Window 100 700 50 550\n",
       [](auto& s) {
         EXPECT_EQ(s.window_rect[0], 100);
         EXPECT_EQ(s.window_rect[1], 50);
         EXPECT_EQ(s.window_rect[2], 700);
         EXPECT_EQ(s.window_rect[3], 550);
       }},
      {"window off screen", "Initial Window 100 1100 50 550\n",
       [](auto& s) {
         EXPECT_EQ(s.window_rect[0], 0);
         EXPECT_EQ(s.window_rect[2], 600);
         EXPECT_EQ(s.window_rect[3], 400);
       }},
      {"windows folder", "Default Open Path C:\\Video\\clip.mpg\n",
       [](auto& s) { EXPECT_EQ(s.open_folder, "C:\\Video\\"); }},
      {"linux folder", "Default Save Path  /home/u/video/clip.mpg\n",
       [](auto& s) { EXPECT_EQ(s.save_folder, "/home/u/video/"); }},
      {"SplitPathOfBareNameIsEmpty", "Default Load Path clip.mpg\n", [](auto& s) { EXPECT_EQ(s.load_folder, ""); }},
      {"crlf lines", "Undo Size 32\r\nImage Extension none\r\nDefault Image File Name Extension .bmp\r\n",
       [](auto& s) {
         EXPECT_EQ(s.undo_size, 32);
         EXPECT_EQ(s.image_extension, ".bmp");
       }},
      {"extension of 31 characters at most", "Default Image File Name Extension " + std::string(40, 'e') + "\n",
       [](auto& s) { EXPECT_EQ(s.image_extension, std::string(31, 'e')); }},
      // A line too long to be a setting is skipped whole: its tail is no
      // line of its own, even when it looks like one.
      {"5000-character line", "Default Trim Path /a/" + long_value + "Undo Size 9\nUndo Size 10\n",
       [](auto& s) {
         EXPECT_EQ(s.undo_size, 10);
         EXPECT_EQ(s.trim_folder, "");
       }},
      {"1023 characters is still a line", "Default Trim Path /" + std::string(1023 - 20, 'y') + "/\n",
       [](auto& s) { EXPECT_EQ(s.trim_folder.size(), 1023u - 18u); }},
      {"comments", "# Undo Size 9\n// Undo Size 9\nUndo Size 12\n", [](auto& s) { EXPECT_EQ(s.undo_size, 12); }},
      {"save types kept", "Selected Save Type 8\n", [](auto& s) { EXPECT_EQ(s.save_type, 8); }},
      {"save type 7 refused", "Selected Save Type 7\n", [](auto& s) { EXPECT_EQ(s.save_type, 0); }},
      {"save type 1 refused", "Selected Save Type 1\n", [](auto& s) { EXPECT_EQ(s.save_type, 0); }},
      {"volume range", "Audio Volume 81\nAudio Channel Left 2\n",
       [](auto&) {
         EXPECT_EQ(audio_volume.load(), 40);
         EXPECT_EQ(audio_channel_left.load(), 1);
       }},
      {"jump data", "Keyboard Jump Data 1 2 3 4 5.5 6.25\n",
       [](auto& s) {
         EXPECT_EQ(s.spare_jump_frames, 1);
         EXPECT_EQ(s.jump_frames, 2);
         EXPECT_EQ(s.spare_jump_percent, 3);
         EXPECT_EQ(s.jump_percent, 4);
         EXPECT_EQ(s.spare_jump_seconds, 5.5);
         EXPECT_EQ(s.jump_seconds, 6.25);
       }},
      {"unparsable values", "Undo Size abc\nInitial Video Image Length nan\nMuxer AV-Sync Range 99999999999\n",
       [](auto& s) {
         EXPECT_EQ(s.undo_size, 16);
         EXPECT_EQ(s.image_length, 5.0);
         EXPECT_EQ(s.av_sync_range, 2000);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioDefaults::set(40, 1, 1);
    EditorSettings s;
    ASSERT_EQ(s.read(write_text("case.cfg", c.text)), 1);
    c.check(s);
  }
}

TEST_F(SettingsTest, FullScanSetsTheEngineFlag) {
  EditorSettings s;
  skip_full_scan = 1;
  ASSERT_EQ(s.read(write_text("scan.cfg", "Full Scan In Loading MPEG 1\n")), 1);
  EXPECT_EQ(s.full_scan, 1);
  EXPECT_EQ(skip_full_scan.load(), 0);
  ASSERT_EQ(s.read(write_text("scan.cfg", "Full Scan In Loading MPEG 0\n")), 1);
  EXPECT_EQ(skip_full_scan.load(), 1);
}

TEST_F(SettingsTest, RandomFileGivesDefaults) {
  std::mt19937 rng(7);
  std::string junk(4096, '\0');
  for (char& c : junk) c = char(rng());
  EditorSettings s;
  ASSERT_EQ(s.read(write_text("junk.cfg", junk)), 1);
  EXPECT_EQ(written(s), written(EditorSettings()));
}

TEST_F(SettingsTest, MissingFileLeavesTheRecord) {
  EditorSettings s;
  s.undo_size = 20;
  s.window_rect[2] = 5000;  // not checked against the screen without a file
  EXPECT_EQ(s.read(tsupport::test_dir() + "/none.cfg"), 0);
  EXPECT_EQ(s.undo_size, 20);
  EXPECT_EQ(s.window_rect[2], 5000);
}

TEST_F(SettingsTest, ResetOptionsKeepsProgramFolderAndKeys) {
  EditorSettings& s = editor_settings();
  ASSERT_TRUE(load_config());
  EXPECT_EQ(s.program_folder, platform_.paths.config);
  s.undo_size = 30;
  s.set_key(KeyCommand::Cut, 'Q');
  s.set_defaults();
  EXPECT_EQ(s.undo_size, 16);
  EXPECT_EQ(s.program_folder, platform_.paths.config);
  EXPECT_EQ(s.key(KeyCommand::Cut), 'Q');
  s.set_default_key_map();
  EXPECT_EQ(s.key(KeyCommand::Cut), 'X');
}

TEST_F(SettingsTest, ConfigRoundTripThroughTheFolder) {
  EditorSettings& s = editor_settings();
  s = EditorSettings();
  s.undo_size = 24;
  s.image_length = 3.5;
  ASSERT_TRUE(save_config());
  // Written under a temporary name and renamed: nothing else is left.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(platform_.paths.config))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"MPEG-Tamsel.cfg"});
  s = EditorSettings();
  ASSERT_TRUE(load_config());
  EXPECT_EQ(s.undo_size, 24);
  EXPECT_EQ(get_still_image_duration(), 3.5);
  s = EditorSettings();
  set_still_image_duration(5.0);
}

TEST_F(SettingsTest, UncreatableConfigFolderKeepsDefaults) {
  platform_.paths.config_error = "permission denied";
  EditorSettings& s = editor_settings();
  s = EditorSettings();
  std::string error;
  EXPECT_FALSE(load_config(&error));
  EXPECT_EQ(error, "permission denied");
  EXPECT_EQ(written(s), written(EditorSettings()));
  EXPECT_FALSE(save_config());
}

// Puts environment variables back as they were.
class EnvGuard {
 public:
  explicit EnvGuard(std::vector<std::string> names) {
    for (auto& n : names) {
      const char* v = std::getenv(n.c_str());
      saved_.push_back({n, v ? std::optional<std::string>(v) : std::nullopt});
    }
  }
  ~EnvGuard() {
    for (auto& [n, v] : saved_)
      if (v)
        ::setenv(n.c_str(), v->c_str(), 1);
      else
        ::unsetenv(n.c_str());
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ConfigFolder, FoundByEnvironmentAndMadeWhenMissing) {
  EnvGuard env({"XDG_CONFIG_HOME", "HOME"});
  tsupport::ConfigDir dir;
  SystemPaths paths;
  std::string error;
  EXPECT_EQ(paths.config_folder(&error), dir.path());
  EXPECT_TRUE(std::filesystem::is_directory(dir.path()));

  ::unsetenv("TAMSEL_CONFIG_DIR");
  ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(config_folder_location(), "/xdg/mpeg-tamsel");
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(config_folder_location(), "/home/someone/.config/mpeg-tamsel");
}

TEST(ConfigFolder, UnderAFileCannotBeMade) {
  tsupport::ConfigDir dir;
  const std::string file = tsupport::test_dir() + "/plain";
  std::ofstream(file) << "x";
  ::setenv("TAMSEL_CONFIG_DIR", (file + "/config").c_str(), 1);
  SystemPaths paths;
  std::string error;
  EXPECT_EQ(paths.config_folder(&error), "");
  EXPECT_NE(error.find(file), std::string::npos) << error;
}

TEST(DisplayDepth, FollowsScreenAndImageColor) {
  const struct {
    int screen, color, depth;
  } cases[] = {{8, 24, 8}, {24, 8, 0}, {24, 16, 16}, {24, 24, 24}, {32, 16, 16}};
  for (const auto& c : cases) {
    EditorSettings s;
    s.screen_depth = c.screen;
    s.image_color = c.color;
    EXPECT_EQ(display_bmp_depth(s), c.depth) << c.screen << " " << c.color;
  }
}

}  // namespace
