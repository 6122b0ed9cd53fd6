#include "platform/services.h"

#include <cstdio>
#include <deque>
#include <mutex>

PromptAnswer prompt_default_answer(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::YesNo:
    case PromptButtons::YesNoCancel:
      return PromptAnswer::Yes;
    case PromptButtons::AbortRetryIgnore:
      return PromptAnswer::Abort;
    case PromptButtons::RetryCancel:
      return PromptAnswer::Retry;
    default:
      return PromptAnswer::Ok;
  }
}

namespace {

class StderrPrompter : public Prompter {
 public:
  PromptAnswer message(PromptIcon, PromptButtons buttons, const std::string& text,
                       const std::string& caption) override {
    std::fprintf(stderr, "%s: %s%s", caption.empty() ? kPromptCaption : caption.c_str(), text.c_str(),
                 !text.empty() && text.back() == '\n' ? "" : "\n");
    return prompt_default_answer(buttons);
  }
};

class CancelledDialogs : public FileDialogs {
 public:
  FileDialogResult run(const FileDialogRequest&) override { return {}; }
};

class NoDesktop : public Desktop {
 public:
  bool open_url(const std::string&) override { return false; }
};

class PlainScreen : public ScreenInfo {
 public:
  int depth() override { return 24; }
  int width() override { return 1920; }
  int height() override { return 1080; }
};

class HeldPosts : public UiPost {
 public:
  void post(std::function<void()> f) override {
    std::lock_guard<std::mutex> g(lock_);
    queue_.push_back(std::move(f));
  }
  void run() {
    for (;;) {
      std::function<void()> f;
      {
        std::lock_guard<std::mutex> g(lock_);
        if (queue_.empty()) return;
        f = std::move(queue_.front());
        queue_.pop_front();
      }
      if (f) f();
    }
  }

 private:
  std::mutex lock_;
  std::deque<std::function<void()>> queue_;
};

struct Defaults {
  StderrPrompter prompter;
  CancelledDialogs dialogs;
  NoDesktop desktop;
  SystemClock clock;
  SystemPaths paths;
  SystemDisk disk;
  SystemFileUse file_use;
  PlainScreen screen;
  HeldPosts post;
  LocalHelp help{&paths, &desktop};
  PlatformServices set{&prompter, &dialogs, &help, &desktop, &clock, &paths, &disk, &file_use, &screen, &post};
};

Defaults& defaults() {
  static Defaults* d = new Defaults;  // never destroyed: threads may outlive main's statics
  return *d;
}

PlatformServices& current() {
  static PlatformServices s = defaults().set;
  return s;
}

}  // namespace

PlatformServices& platform() { return current(); }

PlatformServices install_platform(const PlatformServices& s) {
  PlatformServices& c = current();
  const PlatformServices old = c;
  if (s.prompter) c.prompter = s.prompter;
  if (s.dialogs) c.dialogs = s.dialogs;
  if (s.help) c.help = s.help;
  if (s.desktop) c.desktop = s.desktop;
  if (s.clock) c.clock = s.clock;
  if (s.paths) c.paths = s.paths;
  if (s.disk) c.disk = s.disk;
  if (s.file_use) c.file_use = s.file_use;
  if (s.screen) c.screen = s.screen;
  if (s.post) c.post = s.post;
  return old;
}

void run_posted() { defaults().post.run(); }
