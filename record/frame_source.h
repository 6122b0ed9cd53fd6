// Pictures of a save that no single source holds: the frames of a
// transition (two clips mixed) and of overlays. Whoever shows the movie
// renders them; the Recorder re-encodes them. Frame numbers count the
// movie being saved from its first frame, each transition frame once.
#pragma once

class Frame;

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // The full-size picture of movie frame n, null when it cannot be
  // rendered. It stays valid until the next call.
  virtual Frame* render(int n) = 0;
};
