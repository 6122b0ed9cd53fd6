// Fakes of every platform seam, for the windows' tests: scripted answers,
// logs of what was asked, a manual clock, a fresh configuration folder.
// A FakePlatform installs one of each for its lifetime.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/services.h"

class FakePrompter : public Prompter {
 public:
  struct Shown {
    PromptIcon icon;
    PromptButtons buttons;
    std::string text, caption;
  };
  // Answers in order; when none is left, the first button of the set.
  std::deque<PromptAnswer> answers;
  std::vector<Shown> shown;

  PromptAnswer message(PromptIcon icon, PromptButtons buttons, const std::string& text,
                       const std::string& caption = {}) override;
  std::vector<std::string> texts() const;
  std::string last_text() const { return shown.empty() ? std::string() : shown.back().text; }
};

class FakeFileDialogs : public FileDialogs {
 public:
  // Results in order; when none is left, cancelled.
  std::deque<FileDialogResult> results;
  std::vector<FileDialogRequest> requests;

  FileDialogResult run(const FileDialogRequest& request) override;
  void push_path(const std::string& path, ImageFormat format = ImageFormat::Bitmap);
  void push_paths(const std::vector<std::string>& paths);
  void push_cancel() { results.push_back({}); }
};

class FakeDesktop : public Desktop {
 public:
  bool result = true;
  std::vector<std::string> urls;
  bool open_url(const std::string& url) override {
    urls.push_back(url);
    return result;
  }
};

class FakeHelp : public Help {
 public:
  int result = 1;
  std::vector<std::string> pages;
  int show(const std::string& page) override {
    pages.push_back(page);
    return result;
  }
};

// Time moves only when told: advance(), or a sleep (which advances by its
// length at once).
class FakeClock : public Clock {
 public:
  std::atomic<int64_t> now{0};
  std::atomic<int64_t> slept{0};
  int64_t now_ms() override { return now.load(); }
  void sleep_ms(int ms) override;
  void advance(int64_t ms) { now += ms; }
};

// Folders under a fresh temporary folder made at construction and removed
// with the object: config/ (made on first use, like the system's), tmp/
// and data/. Set config_error to make the configuration folder fail.
class FakePaths : public Paths {
 public:
  FakePaths();
  ~FakePaths() override;
  FakePaths(const FakePaths&) = delete;
  FakePaths& operator=(const FakePaths&) = delete;
  std::string root, config, temp, data;
  std::string config_error;
  std::string config_folder(std::string* error = nullptr) override;
  std::string temp_folder() override { return temp; }
  std::string data_folder() override { return data; }
};

class FakeDisk : public Disk {
 public:
  // Free bytes by path prefix (the longest matching prefix wins); paths
  // under none have default_free.
  std::map<std::string, double> free;
  double default_free = 1e12;
  std::vector<Volume> volume_list;
  double free_bytes(const std::string& path) override;
  std::vector<Volume> volumes() override { return volume_list; }
};

// The real registry (device and inode), with paths that refuse writing
// named by the test (a superuser writes through file permissions).
class FakeFileUse : public FileUse {
 public:
  std::set<std::string> refuse_write;
  // Paths that pass the check whatever the file system says (the writer
  // itself then meets the refusal).
  std::set<std::string> allow_write;
  int add_inputs(std::function<std::vector<std::string>()> lister) override {
    return registry_.add_inputs(std::move(lister));
  }
  int add_output(const std::string& path) override { return registry_.add_output(path); }
  void release(int token) override { registry_.release(token); }
  bool in_use(const std::string& path) override { return registry_.in_use(path); }
  bool writable(const std::string& path) override {
    return !refuse_write.count(path) && (allow_write.count(path) || registry_.writable(path));
  }

 private:
  SystemFileUse registry_;
};

class FakeScreenInfo : public ScreenInfo {
 public:
  int bits = 24, w = 1024, h = 768;
  int depth() override { return bits; }
  int width() override { return w; }
  int height() override { return h; }
};

// Posts wait until the test runs them.
class FakeUiPost : public UiPost {
 public:
  void post(std::function<void()> f) override;
  // Runs what is queued (and what that posts); the number run.
  int drain();
  size_t pending();

 private:
  std::mutex lock_;
  std::deque<std::function<void()>> queue_;
};

class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  FakePrompter prompter;
  FakeFileDialogs dialogs;
  FakeHelp help;
  FakeDesktop desktop;
  FakeClock clock;
  FakePaths paths;
  FakeDisk disk;
  FakeFileUse file_use;
  FakeScreenInfo screen;
  FakeUiPost post;

 private:
  PlatformServices previous_;
};
