// The platform seams over Qt 6 Widgets (tamsel_platform_qt): message
// boxes, the toolkit's own (non-native) file dialogs, the desktop's URL
// handler, the primary screen and posting to the GUI thread. A
// QApplication must exist before any of them is used.
#pragma once

#include <memory>

#include "platform/services.h"

class QtPrompter : public Prompter {
 public:
  PromptAnswer message(PromptIcon icon, PromptButtons buttons, const std::string& text,
                       const std::string& caption = {}) override;
};

class QtFileDialogs : public FileDialogs {
 public:
  FileDialogResult run(const FileDialogRequest& request) override;
};

class QtDesktop : public Desktop {
 public:
  bool open_url(const std::string& url) override;
};

class QtScreenInfo : public ScreenInfo {
 public:
  int depth() override;
  int width() override;
  int height() override;
};

class QtUiPost : public UiPost {
 public:
  void post(std::function<void()> f) override;
};

// The program's set: the Qt seams above with the system's clock, paths,
// disks and file-use registry, and help pages opened on the desktop.
// Installs itself for its lifetime.
class QtPlatform {
 public:
  QtPlatform();
  ~QtPlatform();
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  QtPrompter prompter;
  QtFileDialogs dialogs;
  QtDesktop desktop;
  SystemClock clock;
  SystemPaths paths;
  SystemDisk disk;
  SystemFileUse file_use;
  QtScreenInfo screen;
  QtUiPost post;
  LocalHelp help{&paths, &desktop};

 private:
  PlatformServices previous_;
};
