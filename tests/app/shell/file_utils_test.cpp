// Paths, the prompts before a file is written, the filter table, disks and
// help pages, over the platform fakes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/shell/editor_app.h"
#include "app/shell/file_utils.h"
#include "fake_editor.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

std::string make_file(const std::string& name, const std::string& text = "data") {
  const std::string path = tsupport::test_dir() + "/" + name;
  std::ofstream(path) << text;
  return path;
}

const char* const kSharingText = "File sharing error:\n\t<%s> is in use.\nPlease select a new file name.\n";

std::string sharing_text(const std::string& path) {
  std::string t = kSharingText;
  return t.replace(t.find("%s"), 2, path);
}

TEST(PathParts, SplitNameAndExtension) {
  const struct {
    const char* path;
    const char* folder;
    const char* name;
    const char* ext;  // null: none
  } cases[] = {
      {"C:\\Video\\clip.mpg", "C:\\Video\\", "clip.mpg", "mpg"},
      {"/home/u/video/clip.m2v", "/home/u/video/", "clip.m2v", "m2v"},
      {"C:movie.mpg", "C:", "movie.mpg", "mpg"},
      {"movie.mpg", "", "movie.mpg", "mpg"},  // a bare name has no folder
      {"  /lead/blank.vob", "/lead/", "blank.vob", "vob"},
      {"/a.qme/movie", "/a.qme/", "movie", nullptr},  // a dot in a folder is no extension
      {"mixed\\sep/name.tar.gz", "mixed\\sep/", "name.tar.gz", "gz"},
      {"/ends/in/slash/", "/ends/in/slash/", "", nullptr},
      {"", "", "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(split_path(c.path), c.folder);
    EXPECT_EQ(path_file_name(c.path), c.name);
    std::string ext;
    EXPECT_EQ(get_extension(c.path, &ext), c.ext != nullptr);
    if (c.ext) EXPECT_EQ(ext, c.ext);
  }
  EXPECT_EQ(trim_blanks(" \t clip.mpg \n"), "clip.mpg");
}

TEST(PathParts, FullPaths) {
  std::string out;
  EXPECT_EQ(get_full_path("", &out), 0);
  ASSERT_EQ(get_full_path("/a/b/../c.mpg", &out), 1);
  EXPECT_EQ(out, "/a/c.mpg");
  ASSERT_EQ(get_full_path("rel.mpg", &out), 1);
  EXPECT_EQ(out, (std::filesystem::current_path() / "rel.mpg").string());
  const std::string file = make_file("exists.mpg");
  EXPECT_EQ(get_existing_full_path(file, &out), 1);
  EXPECT_EQ(get_existing_full_path(file + ".none", &out), 0);
}

TEST(ConfirmReplace, AsksOnlyAboutExistingFiles) {
  FakePlatform fp;
  EXPECT_EQ(confirm_replace(""), 0);
  EXPECT_EQ(confirm_replace(tsupport::test_dir() + "/missing.mpg"), 1);
  EXPECT_TRUE(fp.prompter.shown.empty());

  const std::string file = make_file("old.mpg");
  fp.prompter.answers = {PromptAnswer::No, PromptAnswer::Yes};
  EXPECT_EQ(confirm_replace(file), 0);
  EXPECT_EQ(confirm_replace(file), 1);
  ASSERT_EQ(fp.prompter.shown.size(), 2u);
  EXPECT_EQ(fp.prompter.shown[0].text, file + " already exists.\nDo you wnat to replace it?");
  EXPECT_EQ(fp.prompter.shown[0].buttons, PromptButtons::YesNo);
  EXPECT_EQ(fp.prompter.shown[0].caption, "MPEG-Tamsel");
}

TEST(ConfirmReplace, ExistenceNotReadability) {
  FakePlatform fp;
  // A link whose target is gone cannot be read, yet writing through it
  // makes a file there: ask first.
  const std::string link = tsupport::test_dir() + "/dangling.mpg";
  ASSERT_EQ(::symlink((tsupport::test_dir() + "/gone.mpg").c_str(), link.c_str()), 0);
  fp.prompter.answers = {PromptAnswer::No};
  EXPECT_EQ(confirm_replace(link), 0);
  EXPECT_EQ(fp.prompter.shown.size(), 1u);

  // An existing file that cannot be written is refused as in use.
  const std::string locked = make_file("locked.mpg");
  fp.file_use.refuse_write.insert(locked);
  EXPECT_EQ(confirm_replace(locked), 0);
  EXPECT_EQ(fp.prompter.last_text(), sharing_text(locked));
}

TEST(FileSharing, RefusesAnEditorsSource) {
  FakePlatform fp;
  const std::string movie = tsupport::test_dir() + "/source.mpg";
  ASSERT_TRUE(write_fake_movie(movie));
  struct Host : EditorWindowHost {
    bool create_editor_window(EditorEntry*, int, int) override { return true; }
    bool editor_window_position(const EditorEntry*, int*, int*) override { return false; }
  } host;
  CEditorApp app(fake_editor_factory());
  app.set_window_host(&host);
  app.init_editor_table();
  ASSERT_EQ(app.open_input_file(movie, 0, 0, 0), 1);

  // The source by any spelling: as opened, through "..", through a link.
  const std::string link = tsupport::test_dir() + "/link.mpg";
  ASSERT_EQ(::symlink(movie.c_str(), link.c_str()), 0);
  for (const std::string& p : {movie, tsupport::test_dir() + "/../" +
                                          std::filesystem::path(tsupport::test_dir()).filename().string() +
                                          "/source.mpg",
                               link}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(check_file_sharing(p), 1);
    EXPECT_EQ(fp.prompter.last_text(), sharing_text(p));
    EXPECT_EQ(fp.prompter.shown.back().icon, PromptIcon::Stop);
  }
  const size_t shown = fp.prompter.shown.size();
  EXPECT_EQ(check_file_sharing(tsupport::test_dir() + "/other.mpg"), 0);
  EXPECT_EQ(check_file_sharing(""), 1);
  EXPECT_EQ(fp.prompter.shown.size(), shown);
  // A save dialog that picked the source gives nothing.
  fp.dialogs.push_path(movie);
  std::string chosen;
  EXPECT_EQ(file_dialog(&chosen, 1, 4, nullptr, "mpg", "", "Save"), 0);

  // Closed, the file is free again.
  EditorEntry* e = app.entry(0);
  e->kind = EditorEntry::kClosing;
  app.editor_callback(e);
  EXPECT_EQ(check_file_sharing(movie), 0);
}

TEST(FileSharing, RefusesARunningJobsOutput) {
  FakePlatform fp;
  const std::string out = tsupport::test_dir() + "/out.mpg";
  const int token = fp.file_use.add_output(out);
  EXPECT_EQ(check_file_sharing(out), 1);
  fp.file_use.release(token);
  EXPECT_EQ(check_file_sharing(out), 0);
  EXPECT_FALSE(std::filesystem::exists(out));  // the probe leaves nothing
}

TEST(FileDialog, FilterByIndexAndDefaultExtension) {
  FakePlatform fp;
  const struct {
    int save, index;
    const char* ext;
    std::string filter;
    FileDialogKind kind;
  } cases[] = {
      {1, 0, "qme", "Editor Project Files (*.qme) |*.qme|All (*.*)|*.*||", FileDialogKind::Save},
      {1, 4, "mpg", "MPEG Files (*.mpg) |*.mpg|All (*.*)|*.*||", FileDialogKind::Save},
      {1, 4, "m2t", "MPEG-2 Transport Files (*.ts;*.tp;*.m2t) |*.ts;*.tp;*.m2t|All (*.*)|*.*||",
       FileDialogKind::Save},
      {1, 7, "rec", file_filter_text(7), FileDialogKind::Save},
      {0, 5, "mpa", file_filter_text(5), FileDialogKind::Open},
      {1, 9, nullptr, file_filter_text(9), FileDialogKind::Open},  // DLLs are only ever opened
      {0, 42, nullptr, file_filter_text(0), FileDialogKind::Open},
  };
  for (const auto& c : cases) {
    fp.dialogs.push_cancel();
    std::string path = "untouched";
    EXPECT_EQ(file_dialog(&path, c.save, c.index, nullptr, c.ext, "/start", "Title"), 0);
    EXPECT_EQ(path, "untouched");
    ASSERT_FALSE(fp.dialogs.requests.empty());
    const FileDialogRequest& r = fp.dialogs.requests.back();
    EXPECT_EQ(r.filter, c.filter) << c.index;
    EXPECT_EQ(r.kind, c.kind) << c.index;
    EXPECT_EQ(r.folder, "/start");
    EXPECT_EQ(r.title, "Title");
  }
  EXPECT_EQ(file_dialog(nullptr, 0, 0, nullptr, nullptr, "", ""), 0);
}

TEST(FileDialog, ChosenPathsComeOut) {
  FakePlatform fp;
  fp.dialogs.push_path("/x/a.mpg");
  std::string path;
  EXPECT_EQ(open_mpeg_file_dialog(&path), 1);
  EXPECT_EQ(path, "/x/a.mpg");
  EXPECT_EQ(fp.dialogs.requests.back().filter, kOpenMpegFilter);
  EXPECT_TRUE(fp.dialogs.requests.back().must_exist);

  fp.dialogs.push_paths({"/1.mpg", "/2.mpg", "/3.mpg"});
  std::vector<std::string> many;
  EXPECT_EQ(file_dialog_multi(&many, 2, 0, nullptr, nullptr, "", "Add"), 2);
  EXPECT_EQ(many, (std::vector<std::string>{"/1.mpg", "/2.mpg"}));
  EXPECT_EQ(fp.dialogs.requests.back().kind, FileDialogKind::OpenMulti);
  EXPECT_EQ(file_dialog_multi(&many, 0, 0, nullptr, nullptr, "", "Add"), 0);
}

TEST(FileFilter, ParsesAndMatchesAsTheDialogsDo) {
  const auto filters = parse_file_filter(file_filter_text(0));
  ASSERT_EQ(filters.size(), 5u);
  EXPECT_EQ(filters[1].description, "Image Files (*.bmp;*.jpg)");
  EXPECT_EQ(filters[1].patterns, (std::vector<std::string>{"*.bmp", "*.jpg"}));
  EXPECT_EQ(filters[4].patterns, (std::vector<std::string>{"*.*"}));
  // The entry with a stray ";" at its end and a "*vob" without dot.
  const auto input = parse_file_filter(file_filter_text(3));
  ASSERT_EQ(input.size(), 2u);
  EXPECT_EQ(input[0].patterns.size(), 12u);
  EXPECT_TRUE(file_filter_matches(input[0], "DVD.VOB"));

  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "README", true},     {"*.*", "movie.mpg", true},  {"*.mpg", "MOVIE.MPG", true},
      {"*.mpg", "movie.mpg2", false}, {"*.m?v", "a.m2v", true},  {"*.ts", "a.tp", false},
      {"*", "", true},             {"a*b*c", "aXbYc", true},    {"a*b*c", "aXbY", false},
  };
  for (const auto& c : cases) EXPECT_EQ(file_pattern_matches(c.pattern, c.name), c.match) << c.pattern << " " << c.name;

  EXPECT_EQ(name_filter_string(filters[1]), "Image Files (*.bmp;*.jpg) (*.[bB][mM][pP] *.[jJ][pP][gG])");
  EXPECT_EQ(name_filter_string(filters[4]), "All (*.*) (*)");
}

TEST(Disks, MountTableAndFreeSpace) {
  const std::string table =
      "/dev/sda1 / ext4 rw 0 0\n"
      "proc /proc proc rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "/dev/sdb1 /media/My\\040Disk vfat rw 0 0\n"
      "server:/x /net nfs rw 0 0\n"
      "/dev/loop0 /snap/core squashfs ro 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "garbage\n";
  EXPECT_EQ(parse_mount_table(table), (std::vector<std::string>{"/", "/media/My Disk"}));

  // The system's own reading of a table naming only the root.
  const std::string file = make_file("mounts", "/dev/root / ext4 rw 0 0\n");
  SystemDisk disk(file);
  const auto volumes = disk.volumes();
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].mount, "/");
  EXPECT_GT(disk.free_bytes(tsupport::test_dir() + "/not/yet/made.mpg"), 0.0);

  FakePlatform fp;
  fp.disk.free = {{"/media", 1000.0}};
  fp.disk.volume_list = {{"/", 5.0}, {"/media", 7.0}, {"/home", 9.0}};
  EXPECT_EQ(get_disk_free("/media/x.mpg"), 1000.0);
  std::vector<Volume> listed;
  EXPECT_EQ(list_fixed_drives(&listed, 2), 2);
  EXPECT_EQ(refresh_disk_free(&listed), 2);  // "/" -> 1e12, "/media" -> 1000
  EXPECT_EQ(listed[1].free_bytes, 1000.0);
  EXPECT_EQ(refresh_disk_free(&listed), 0);

  fp.prompter.answers = {PromptAnswer::Ignore};
  EXPECT_EQ(warn_disk_space("/media"), PromptAnswer::Ignore);
  EXPECT_EQ(fp.prompter.last_text(), "The \"/media\" disk may not have enough space.\nPlease check again.");
  EXPECT_EQ(fp.prompter.shown.back().buttons, PromptButtons::AbortRetryIgnore);
  warn_disk_space("");
  EXPECT_EQ(fp.prompter.last_text(), "The disk may not have enough space.\nPlease check again.");
}

TEST(Help, PagesAreLocalFiles) {
  EXPECT_EQ(help_page_file("/share/mt", "help.chm::/htm/chap00-1.htm"), "/share/mt/help/htm/chap00-1.htm");
  EXPECT_EQ(help_page_file("/share/mt/", "htm\\chap02-2-12.htm"), "/share/mt/help/htm/chap02-2-12.htm");
  EXPECT_EQ(help_page_file("/share/mt", "help.chm::/../../etc/passwd"), "");
  EXPECT_EQ(help_page_file("/share/mt", "help.chm::/htm/.."), "");

  FakePlatform fp;
  const std::string page = fp.paths.data + "/help/htm/chap00-1.htm";
  std::filesystem::create_directories(fp.paths.data + "/help/htm");
  std::ofstream(page) << "<html></html>";
  LocalHelp help(&fp.paths, &fp.desktop);
  EXPECT_EQ(help.show("help.chm::/htm/chap00-1.htm"), 1);
  EXPECT_EQ(fp.desktop.urls, std::vector<std::string>{"file://" + page});
  EXPECT_EQ(help.show("help.chm::/htm/none.htm"), 0);
  fp.desktop.result = false;
  EXPECT_EQ(help.show("help.chm::/htm/chap00-1.htm"), 0);

  // The windows ask through the installed Help.
  EXPECT_EQ(show_help("help.chm::/htm/chap00-1.htm"), 1);
  EXPECT_EQ(fp.help.pages, std::vector<std::string>{"help.chm::/htm/chap00-1.htm"});
}

TEST(Help, TheIndexPageShips) {
  // The program's data folder in the source tree holds the page the main
  // window's help opens.
  const std::string page = tsupport::source_dir() + "/ui/help/htm/chap00-1.htm";
  EXPECT_TRUE(std::filesystem::is_regular_file(page)) << page;
}

}  // namespace
