// Growable ring buffer of elementary-stream bytes. The demultiplexers fill it
// as an audio span (bytes of one stretch of the file, stamped with the time
// of its first whole frame); the writer and the packetiser use it as a ring.
#pragma once

#include <cstdint>

#include "foundation/file_offset.h"

class ESBuffer {
 public:
  explicit ESBuffer(uint32_t capacity = 0);
  ~ESBuffer();
  ESBuffer(const ESBuffer&) = delete;
  ESBuffer& operator=(const ESBuffer&) = delete;

  // Grows to hold at least n bytes (0: double, 16384 from empty); never
  // shrinks; held bytes move in order to the storage start. Returns the size.
  uint32_t resize(uint32_t n = 0);
  // Appends n bytes, growing when needed; returns n (0 on failure).
  [[nodiscard]] int write(const uint8_t* src, int n);
  // Copies up to n held bytes without consuming them.
  int peek(uint8_t* dst, int n) const;
  int skip(int n);
  [[nodiscard]] int read(uint8_t* dst, int n);
  void clear();
  // For a caller that filled `data` directly: n bytes from the start.
  void set_bytes(int n);
  // Drops n bytes from the front and moves the rest to the storage start.
  void discard_front(int n);

  bool is_time_set() const { return time > -4294967297.0; }

  uint8_t* data = nullptr;  // size + 32 zeroed bytes
  uint32_t size = 0;        // capacity
  int bytes = 0;            // bytes held
  int first_frame = 0;      // offset of the first whole audio frame; scan word of the writer
  FileOffset start;         // span in the file
  FileOffset end;
  int stream_id = 0;        // stream to filter on (system streams)
  int pid = 0;
  int time_valid = 0;
  double time = -4294967297.0;  // 90 kHz ticks of the first whole frame
  uint8_t* wrap = nullptr;      // storage start + size
  uint8_t* rd = nullptr;        // read position
  uint8_t* wr = nullptr;        // write position
};
