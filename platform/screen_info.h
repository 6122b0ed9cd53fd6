// What the windows ask of the screen: its depth (8 bits per pixel turns
// frame display to the palette) and its size (the stored main-window
// rectangle must lie on it).
#pragma once

class ScreenInfo {
 public:
  virtual ~ScreenInfo() = default;
  virtual int depth() = 0;
  virtual int width() = 0;
  virtual int height() = 0;
};
