#include "platform/qt_audio_sink.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>

#include "foundation/trace.h"

QtAudioSink::QtAudioSink() = default;

QtAudioSink::~QtAudioSink() { close_device(); }

bool QtAudioSink::format_of(int rate, int channels, int bits, QAudioFormat* format) {
  if (rate < 1 || channels < 1 || !format) return false;
  QAudioFormat::SampleFormat sample;
  if (bits == 8)
    sample = QAudioFormat::UInt8;
  else if (bits == 16)
    sample = QAudioFormat::Int16;
  else
    return false;
  format->setSampleRate(rate);
  format->setChannelCount(channels);
  format->setSampleFormat(sample);
  return true;
}

uint64_t QtAudioSink::played_bytes(int64_t usecs, uint64_t taken, int64_t queued, int rate, int block) {
  if (rate < 1 || block < 1) return 0;
  // Whole sample frames: a partial one would put the play position inside
  // a sample.
  const uint64_t frames = uint64_t(std::max<int64_t>(usecs, 0)) * uint64_t(rate) / 1000000u;
  uint64_t played = frames * uint64_t(block);
  const uint64_t held = uint64_t(std::max<int64_t>(queued, 0));
  played = std::min(played, taken > held ? taken - held : 0);
  return played - played % uint64_t(block);
}

bool QtAudioSink::open(int rate, int channels, int bits) {
  close_device();
  QAudioFormat format;
  if (!format_of(rate, channels, bits, &format)) {
    trace("QtAudioSink::open (): unsupported format (%d Hz, %d channels, %d bits)", rate, channels, bits);
    return false;
  }
  rate_ = rate;
  block_ = channels * bits / 8;
  max_lead_ = std::max(block_, rate / 20 * block_);
  if (!device_open(format, max_lead_)) return false;
  opened_ = true;
  return true;
}

bool QtAudioSink::device_open(const QAudioFormat& format, int buffer_bytes) {
  if (!QCoreApplication::instance()) {
    trace("QtAudioSink::open (): %s", "no QCoreApplication");
    return false;
  }
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) {
    trace("QtAudioSink::open (): %s", "no audio output device");
    return false;
  }
  if (!device.isFormatSupported(format)) {
    trace("QtAudioSink::open (): format not supported by %s", device.description().toUtf8().constData());
    return false;
  }
  sink_ = std::make_unique<QAudioSink>(device, format);
  // The device's buffer is what the sink hands ahead: a larger one would
  // wait to fill before it starts.
  sink_->setBufferSize(buffer_bytes);
  return true;
}

void QtAudioSink::attach(const uint8_t* ring, int size) {
  ring_ = ring;
  size_ = size;
}

void QtAudioSink::start() {
  if (!opened_ || running_) return;
  if (started_) {
    device_resume();
  } else {
    taken_ = consumed_ = 0;
    if (!device_start()) {
      trace("QtAudioSink::start (): %s", "the device did not start");
      return;
    }
    started_ = true;
  }
  running_ = true;
  feed();
}

void QtAudioSink::suspend() {
  if (!running_) return;
  device_suspend();
  running_ = false;
}

void QtAudioSink::stop() {
  if (started_) device_stop();
  started_ = running_ = false;
  taken_ = consumed_ = 0;
}

uint64_t QtAudioSink::bytes_consumed() {
  if (started_) {
    // Never backwards, never past what was handed over.
    consumed_ = std::clamp(device_played(taken_), consumed_, taken_);
    feed();
  }
  return consumed_;
}

int QtAudioSink::lead_bytes() { return int(taken_ - consumed_); }

void QtAudioSink::feed() {
  if (!running_ || !ring_ || size_ <= 0) return;
  int room = std::min(max_lead_ - int(taken_ - consumed_), device_bytes_free());
  room -= room % block_;
  while (room > 0) {
    const int at = int(taken_ % uint64_t(size_));
    const int n = device_write(ring_ + at, std::min(room, size_ - at));
    if (n <= 0) break;
    taken_ += uint64_t(n);
    room -= n;
  }
}

void QtAudioSink::close_device() {
  stop();
  opened_ = false;
  sink_.reset();
}

bool QtAudioSink::device_start() {
  if (!sink_) return false;
  io_ = sink_->start();
  return io_ != nullptr;
}

void QtAudioSink::device_suspend() {
  if (sink_) sink_->suspend();
}

void QtAudioSink::device_resume() {
  if (sink_) sink_->resume();
}

void QtAudioSink::device_stop() {
  if (!sink_) return;
  // Dropped first, so that stopping does not wait for the queue to play.
  sink_->reset();
  sink_->stop();
  io_ = nullptr;
}

int QtAudioSink::device_bytes_free() { return sink_ && io_ ? int(sink_->bytesFree()) : 0; }

int QtAudioSink::device_write(const uint8_t* bytes, int n) {
  if (!io_) return 0;
  const qint64 k = io_->write(reinterpret_cast<const char*>(bytes), n);
  return k > 0 ? int(k) : 0;
}

uint64_t QtAudioSink::device_played(uint64_t taken) {
  if (!sink_) return 0;
  const int64_t queued = int64_t(sink_->bufferSize()) - int64_t(sink_->bytesFree());
  return played_bytes(sink_->processedUSecs(), taken, queued, rate_, block_);
}
