// Sound output on the default device through Qt 6 Multimedia (its own
// library, tamsel_platform_qt, built when Qt is found; nothing of the
// engine links it).
//
// What the caller provides:
// - a QCoreApplication (a QGuiApplication or QApplication will do) made
//   before open() and alive until the sink is destroyed;
// - every call from one thread, the one that calls open(): the QAudioSink
//   made there belongs to that thread.
// No event loop is needed. The sink works in push mode: the ring is handed
// to the device from start() and bytes_consumed(), at most max_lead() bytes
// ahead of the play position, so the caller's polling (DSAudio asks for
// free space before every write) keeps the device fed, and no call waits
// longer than one write of what the device has room for.
//
// Without an output device, or with a format the device refuses, open()
// returns false after a trace message: DSAudio over it stays closed and
// playback is silent.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/audio_sink.h"

class QAudioFormat;
class QAudioSink;
class QIODevice;

class QtAudioSink : public AudioSink {
 public:
  QtAudioSink();
  ~QtAudioSink() override;
  QtAudioSink(const QtAudioSink&) = delete;
  QtAudioSink& operator=(const QtAudioSink&) = delete;

  bool open(int rate, int channels, int bits) override;
  void attach(const uint8_t* ring, int size) override;
  void start() override;
  void suspend() override;
  void stop() override;
  uint64_t bytes_consumed() override;
  int lead_bytes() override;

  // The device format of interleaved PCM: 8 bits unsigned, 16 bits signed.
  // False (format untouched) for any other depth or a rate or channel
  // count below 1.
  static bool format_of(int rate, int channels, int bits, QAudioFormat* format);
  // Bytes played of `taken` bytes handed over, from the device's processed
  // time (usecs) and what it still holds (queued): the smaller reading, in
  // whole sample frames of `block` bytes.
  static uint64_t played_bytes(int64_t usecs, uint64_t taken, int64_t queued, int rate, int block);

  // Most bytes handed to the device ahead of the play position: half the
  // 0.1 s DSAudio queues before it starts, so starting never hands over
  // bytes not yet written.
  int max_lead() const { return max_lead_; }
  bool running() const { return running_; }

 protected:
  // The device, one call each; a test stands in for them to run the ring
  // without one.
  virtual bool device_open(const QAudioFormat& format, int buffer_bytes);
  virtual bool device_start();
  virtual void device_suspend();
  virtual void device_resume();
  virtual void device_stop();
  virtual int device_bytes_free();
  // Bytes taken (0 on failure).
  virtual int device_write(const uint8_t* bytes, int n);
  // Bytes played of the `taken` handed over since device_start().
  virtual uint64_t device_played(uint64_t taken);

 private:
  void feed();
  void close_device();
  std::unique_ptr<QAudioSink> sink_;
  QIODevice* io_ = nullptr;  // owned by sink_
  const uint8_t* ring_ = nullptr;
  int size_ = 0;
  int rate_ = 0, block_ = 0, max_lead_ = 0;
  bool opened_ = false, started_ = false, running_ = false;
  uint64_t taken_ = 0, consumed_ = 0;
};
