// Message boxes: every question or warning a window shows goes through
// one Prompter, so tests script the answers and read the texts.
#pragma once

#include <string>

enum class PromptIcon { None, Information, Exclamation, Stop, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore, RetryCancel };
// The values the windows' rules compare with (the system's button ids).
enum class PromptAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

// Caption of every message box of the program.
inline constexpr const char* kPromptCaption = "MPEG-Tamsel";

class Prompter {
 public:
  virtual ~Prompter() = default;
  // Shows text (modal) and returns the button pressed; an empty caption
  // means the program's.
  virtual PromptAnswer message(PromptIcon icon, PromptButtons buttons, const std::string& text,
                               const std::string& caption = {}) = 0;
};

// The first button of a set: what a prompt answers when nobody can be asked.
PromptAnswer prompt_default_answer(PromptButtons buttons);
