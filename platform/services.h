// The platform services the windows use, one process-wide set: the
// program installs its toolkit's at start, tests install fakes
// (platform/fakes.h). Install before any thread that uses them starts.
#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/disk.h"
#include "platform/file_dialogs.h"
#include "platform/file_use.h"
#include "platform/help.h"
#include "platform/paths.h"
#include "platform/prompter.h"
#include "platform/screen_info.h"
#include "platform/ui_post.h"

struct PlatformServices {
  Prompter* prompter = nullptr;
  FileDialogs* dialogs = nullptr;
  Help* help = nullptr;
  Desktop* desktop = nullptr;
  Clock* clock = nullptr;
  Paths* paths = nullptr;
  Disk* disk = nullptr;
  FileUse* file_use = nullptr;
  ScreenInfo* screen = nullptr;
  UiPost* post = nullptr;
};

// The installed set. Until something else is installed: the system's
// clock, paths, disks, file-use registry and local help, and headless
// stand-ins (prompts written to standard error and answered with their
// first button, dialogs cancelled, a 24-bit screen, posts kept until
// run_posted() runs them).
PlatformServices& platform();
// Installs a set (null members keep the current ones); returns the set
// it replaced.
PlatformServices install_platform(const PlatformServices& services);
// Runs what the headless stand-in of UiPost holds.
void run_posted();
