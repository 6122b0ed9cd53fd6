// A program-stream reader for the tests, written from the pack, system
// header and PES syntax of ISO/IEC 11172-1 and 13818-1 (not from the
// multiplexer's code), and a replay of each stream's STD buffer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace psr {

struct Packet {
  int64_t es_offset = 0;  // where its payload starts in the stream's bytes
  int64_t size = 0;
  double arrival = 0;  // 90 kHz: first payload byte in
  double arrival_end = 0;
  bool has_pts = false, has_dts = false;
  double pts = 0, dts = 0;
};

struct Stream {
  int id = 0;  // stream_id, or the sub-stream id of private stream 1
  std::vector<uint8_t> es;
  std::vector<Packet> packets;
  int std_bytes = 0;  // buffer size from the first STD / P-STD field
};

struct File {
  bool mpeg2 = false;
  std::vector<int64_t> pack_offsets;
  std::vector<int64_t> pack_sizes;  // distance to the next pack; the last one to the end of the file
  std::vector<double> scr;
  std::vector<int> mux_rate;  // per pack, units of 50 bytes/s
  std::vector<uint8_t> pack_has_payload;  // per pack: 1 when a stream packet is in it
  std::vector<std::vector<uint8_t>> system_headers;
  std::map<int, Stream> streams;
  std::vector<int64_t> vcd_audio_tails_ok;  // per audio pack of a 2324-byte stream: 1 when 20 zero bytes follow
  bool end_code = false;
  int64_t end_code_offset = -1;
  std::string error;  // empty when the syntax was sound
};

File read(const std::vector<uint8_t>& data);

// Access units of a stream with their removal times (DTS, else PTS; units
// without a stamp of their own are interpolated), for the STD replay.
struct Unit {
  int64_t start = 0, end = 0;
  double removal = 0;
  bool stamped = false;
};
// Video: units start at each picture's header group (sequence, GOP or
// picture start code after the previous picture). Audio: MPEG audio or
// AC-3 frames.
std::vector<Unit> video_units(const Stream& s);
std::vector<Unit> audio_units(const Stream& s, bool ac3);

struct StdResult {
  int overflows = 0;
  int underflows = 0;
  std::string first_fault;
};
StdResult replay_std(const Stream& s, const std::vector<Unit>& units);

// A video elementary stream as a muxer passes it on: with the sequence end
// code it lacks.
std::vector<uint8_t> with_end_code(std::vector<uint8_t> v);

}  // namespace psr
