#include "platform/fakes.h"

#include <stdlib.h>

#include <filesystem>

PromptAnswer FakePrompter::message(PromptIcon icon, PromptButtons buttons, const std::string& text,
                                   const std::string& caption) {
  shown.push_back({icon, buttons, text, caption.empty() ? std::string(kPromptCaption) : caption});
  if (answers.empty()) return prompt_default_answer(buttons);
  const PromptAnswer a = answers.front();
  answers.pop_front();
  return a;
}

std::vector<std::string> FakePrompter::texts() const {
  std::vector<std::string> out;
  for (const auto& s : shown) out.push_back(s.text);
  return out;
}

FileDialogResult FakeFileDialogs::run(const FileDialogRequest& request) {
  requests.push_back(request);
  if (results.empty()) return {};
  FileDialogResult r = results.front();
  results.pop_front();
  return r;
}

void FakeFileDialogs::push_path(const std::string& path, ImageFormat format) {
  FileDialogResult r;
  r.accepted = true;
  r.paths = {path};
  r.image_format = format;
  results.push_back(r);
}

void FakeFileDialogs::push_paths(const std::vector<std::string>& paths) {
  FileDialogResult r;
  r.accepted = true;
  r.paths = paths;
  results.push_back(r);
}

void FakeClock::sleep_ms(int ms) {
  if (ms <= 0) return;
  now += ms;
  slept += ms;
}

FakePaths::FakePaths() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tamsel-paths-XXXXXX";
  if (::mkdtemp(pattern.data())) root = pattern;
  config = root + "/config";
  temp = root + "/tmp";
  data = root + "/data";
  std::error_code ec;
  std::filesystem::create_directories(temp, ec);
  std::filesystem::create_directories(data, ec);
}

FakePaths::~FakePaths() {
  std::error_code ec;
  if (!root.empty()) std::filesystem::remove_all(root, ec);
}

std::string FakePaths::config_folder(std::string* error) {
  if (!config_error.empty()) {
    if (error) *error = config_error;
    return {};
  }
  std::error_code ec;
  std::filesystem::create_directories(config, ec);
  if (!std::filesystem::is_directory(config, ec)) {
    if (error) *error = config + ": cannot be made";
    return {};
  }
  return config;
}

double FakeDisk::free_bytes(const std::string& path) {
  size_t best = 0;
  double value = default_free;
  for (const auto& [prefix, bytes] : free)
    if (path.rfind(prefix, 0) == 0 && prefix.size() >= best) {
      best = prefix.size();
      value = bytes;
    }
  return value;
}

void FakeUiPost::post(std::function<void()> f) {
  std::lock_guard<std::mutex> g(lock_);
  queue_.push_back(std::move(f));
}

int FakeUiPost::drain() {
  int n = 0;
  for (;;) {
    std::function<void()> f;
    {
      std::lock_guard<std::mutex> g(lock_);
      if (queue_.empty()) return n;
      f = std::move(queue_.front());
      queue_.pop_front();
    }
    if (f) f();
    ++n;
  }
}

size_t FakeUiPost::pending() {
  std::lock_guard<std::mutex> g(lock_);
  return queue_.size();
}

FakePlatform::FakePlatform() {
  previous_ = install_platform(
      {&prompter, &dialogs, &help, &desktop, &clock, &paths, &disk, &file_use, &screen, &post});
}

FakePlatform::~FakePlatform() { install_platform(previous_); }
