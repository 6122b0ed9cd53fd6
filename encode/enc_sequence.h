// A plain sequence driver: pictures in display order in, coded pictures in
// coded order out, GOPs of N pictures with M - 1 B pictures between
// references, open or closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "encode/encoder.h"
#include "picture/frame.h"

struct CodedPicture {
  const uint8_t* data = nullptr;
  size_t size = 0;      // bytes, stuffing included
  int type = 0;         // 1 I, 2 P, 3 B; 0 for the sequence end code
  long long number = 0; // display number
  int bytes = 0;        // what encode_picture reported
};

class SequenceEncoder {
 public:
  // Receives every coded picture; false stops the run. `encoder.recon`
  // holds the picture's reconstruction during the call.
  using Sink = std::function<bool(const CodedPicture&)>;

  SequenceEncoder(Encoder& encoder, int n, int m, bool closed_gop, bool two_stage, Sink sink);
  // Takes the next picture in display order (copied).
  bool push(const Frame& frame);
  // Codes what is pending (a trailing picture without a later reference
  // becomes P) and emits the sequence end code when anything was coded.
  bool finish();
  long long pictures() const { return coded_; }
  // Asked after the estimation of each P picture with the encoder's
  // decisions in `mbinfo`; true makes the picture the I picture of a new
  // GOP (a new scene), which the next pictures count from. With
  // examine_b the B pictures waiting before the new scene are looked at
  // first: the leading ones (up to two) that predict better from the old
  // scene than from the new are coded with the old scene (the second as a
  // P picture, the first as a forward-only B picture), and the new GOP is
  // closed.
  void set_scene_test(std::function<bool(const Encoder&)> test, bool examine_b = false) {
    scene_test_ = std::move(test);
    examine_b_ = examine_b;
  }

 private:
  std::unique_ptr<Frame> take(const Frame& f);
  // stage >= 0 codes the picture in one call at that stage, untested.
  bool code(Frame* cur, int type, int distance, long long number, int stage = -1);
  // The waiting B pictures that still belong to the old scene (0..2), the
  // new scene starting at `scene`; the first one's decisions are saved.
  int old_scene_b(Frame* scene);
  // Codes the k old-scene B pictures and takes them off the queue.
  bool code_old_scene_b(int k);
  void take_reference(std::unique_ptr<Frame> f);
  // Codes `cur` (picture `number`, found to start a new scene) as the I
  // picture of a new GOP; *closed: the waiting B pictures are the new
  // GOP's and look back no further than its I picture.
  bool code_new_scene(Frame* cur, long long number, bool* closed);
  void start_gop(long long first_number, long long i_number);
  bool code_pending();

  Encoder& enc_;
  int n_, m_;
  bool closed_, two_stage_;
  Sink sink_;
  std::function<bool(const Encoder&)> scene_test_;
  bool scene_cut_ = false;
  bool examine_b_ = false;
  long long gop_base_ = 0;       // display number of the I picture the GOP pattern counts from
  long long next_ = 0;           // display number of the next input
  long long gop_first_ = 0;      // display number of the current GOP's first picture
  long long coded_ = 0;
  std::vector<std::unique_ptr<Frame>> pending_;   // B pictures waiting for their reference
  std::vector<long long> pending_numbers_;
  std::unique_ptr<Frame> older_, newer_;           // the caller's reference pictures (search)
  std::vector<std::unique_ptr<Frame>> spare_;
  std::vector<uint8_t> buffer_;
};
