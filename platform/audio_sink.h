// The seam between DSAudio's looping ring and whatever plays it. A sink
// plays the ring from its start, wrapping, at its own pace; DSAudio learns
// how far it got from bytes_consumed().
#pragma once

#include <cstdint>
#include <vector>

class AudioSink {
 public:
  virtual ~AudioSink() = default;
  // Prepares playback of 16-bit interleaved PCM; false without a device.
  virtual bool open(int rate, int channels, int bits) = 0;
  // The ring to play: size bytes, read from offset bytes_consumed() % size.
  virtual void attach(const uint8_t* ring, int size) = 0;
  virtual void start() = 0;
  // Stops without rewinding.
  virtual void suspend() = 0;
  // Stops and rewinds: bytes_consumed() is 0 again.
  virtual void stop() = 0;
  // Bytes played since the last stop.
  virtual uint64_t bytes_consumed() = 0;
  // Bytes past the play position that the device has already taken and
  // that a writer must not touch.
  virtual int lead_bytes() { return 0; }
};

// A sink whose clock the caller moves: advance() plays bytes of the ring
// while started and hands them to heard().
class ClockedAudioSink : public AudioSink {
 public:
  bool open(int rate, int channels, int bits) override;
  void attach(const uint8_t* ring, int size) override {
    ring_ = ring;
    size_ = size;
  }
  void start() override { running_ = true; }
  void suspend() override { running_ = false; }
  void stop() override {
    running_ = false;
    consumed_ = 0;
  }
  uint64_t bytes_consumed() override { return consumed_; }
  int lead_bytes() override { return lead_; }
  void set_lead_bytes(int n) { lead_ = n; }
  // Plays n bytes when running; the bytes played.
  int advance(int n);
  bool running() const { return running_; }
  int rate() const { return rate_; }
  int channels() const { return channels_; }

 protected:
  virtual void heard(const uint8_t* bytes, int n) = 0;

 private:
  const uint8_t* ring_ = nullptr;
  int size_ = 0, lead_ = 0;
  int rate_ = 0, channels_ = 0;
  bool running_ = false;
  uint64_t consumed_ = 0;
};

// Test sink: keeps what was heard.
class FakeAudioSink : public ClockedAudioSink {
 public:
  bool fail_open = false;
  std::vector<uint8_t> played;
  bool open(int rate, int channels, int bits) override {
    return !fail_open && ClockedAudioSink::open(rate, channels, bits);
  }

 protected:
  void heard(const uint8_t* bytes, int n) override { played.insert(played.end(), bytes, bytes + n); }
};
