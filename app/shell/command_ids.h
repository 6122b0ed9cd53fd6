// Command ids of the application and its main frame (menu 137, the tool
// windows, the function keys). A window's own commands are declared with
// the window.
#pragma once

namespace cmd {
inline constexpr int kOpenMovie = 32780;         // Ctrl+O
inline constexpr int kLoadProject = 32779;       // Ctrl+L
inline constexpr int kSaveClipboard = 32781;     // Ctrl+S
inline constexpr int kDeleteClip = 32776;        // Ctrl+X
inline constexpr int kUndoClipboard = 32782;     // Ctrl+Z
inline constexpr int kClipIcons = 32777;
inline constexpr int kDetailsReport = 32778;
inline constexpr int kMultiplexer = 32833;       // F2
inline constexpr int kDemultiplexer = 32830;     // F3
inline constexpr int kStreamConvertor = 32829;   // F4
inline constexpr int kMbsScan = 32864;
inline constexpr int kBatchSave = 32775;         // F5
inline constexpr int kVideoClipList = 32836;     // F6
inline constexpr int kGopFixer = 32831;          // F7
inline constexpr int kOptions = 32834;
inline constexpr int kResetOptions = 32844;
inline constexpr int kAudioConfigure = 32770;
inline constexpr int kAudioPlayer = 32773;
inline constexpr int kAbout = 57664;
inline constexpr int kViewAudio = 32837;
inline constexpr int kViewTools = 32835;
inline constexpr int kHelpTopics = 57667;
inline constexpr int kHelp = 57670;
inline constexpr int kContextHelp = 57669;
inline constexpr int kDefaultHelp = 57671;
inline constexpr int kExit = 57665;
inline constexpr int kViewToolbar = 59392;
inline constexpr int kViewStatusBar = 59393;
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditPaste = 57637;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditUndo = 57643;
// Controls of the main frame.
inline constexpr int kVolumeSlider = 32774;
}  // namespace cmd
