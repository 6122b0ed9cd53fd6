// Hands work to the user-interface thread: playback and jobs never touch a
// widget, they post.
#pragma once

#include <functional>

class UiPost {
 public:
  virtual ~UiPost() = default;
  // Runs f later on the user-interface thread; callable from any thread.
  virtual void post(std::function<void()> f) = 0;
};
