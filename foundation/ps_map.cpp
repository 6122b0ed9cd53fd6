#include "foundation/ps_map.h"

#include <cstring>

#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"

void PSPSM::reset() {
  program_stream_map_length = current_next_indicator = program_stream_map_version = 0;
  program_stream_info_length = elementary_stream_map_length = entry_count = 0;
  CRC_32 = 0;
  descriptors.clear();
  stream_types.clear();
  stream_ids.clear();
  info_lengths.clear();
  entry_descriptors.clear();
}

void PSPSM::cleanup() {
  reset();
  descriptors.shrink_to_fit();
  stream_types.shrink_to_fit();
  stream_ids.shrink_to_fit();
  info_lengths.shrink_to_fit();
  entry_descriptors.shrink_to_fit();
}

int PSPSM::decode(const uint8_t* data, int length) {
  if (!data || length < 5) return 1;
  // First start code of a stream id (>= 0xBC); it must be the map.
  int at = -1;
  for (int i = 2; i + 3 <= length;) {
    const void* q = std::memchr(data + i, 0x01, static_cast<size_t>(length - 2 - i));
    if (!q) break;
    i = static_cast<int>(static_cast<const uint8_t*>(q) - data);
    if (data[i - 1] == 0 && data[i - 2] == 0 && data[i + 1] >= 0xBC) {
      at = i - 2;
      break;
    }
    ++i;
  }
  if (at < 0 || data[at + 3] != 0xBC || length - at < 20) {
    trace("program stream map: not found\n");
    return 1;
  }
  const uint8_t* p = data + at;
  const int avail = length - at;
  if ((p[6] & 0x60) != 0x60 || p[7] != 0xFF) {
    trace("program stream map: reserved bits not set\n");
    return 1;
  }
  program_stream_map_length = (p[4] << 8) | p[5];
  current_next_indicator = p[6] >> 7;
  program_stream_map_version = p[6] & 0x1F;
  program_stream_info_length = (p[8] << 8) | p[9];
  if (program_stream_map_length + 6 > avail || program_stream_info_length > program_stream_map_length - 10) {
    trace("program stream map: program_stream_map_length %d does not fit\n", program_stream_map_length);
    return 1;
  }
  descriptors.assign(p + 10, p + 10 + program_stream_info_length);
  const uint8_t* m = p + 10 + program_stream_info_length;
  elementary_stream_map_length = (m[0] << 8) | m[1];
  if (elementary_stream_map_length != program_stream_map_length - program_stream_info_length - 10) {
    trace("program stream map: elementary_stream_map_length %d disagrees\n", elementary_stream_map_length);
    return 1;
  }
  // Entries: 4 bytes each plus their own descriptors, all inside the map.
  const uint8_t* e = m + 2;
  const int map = elementary_stream_map_length;
  int count = 0;
  for (int pos = 0; pos < map;) {
    if (pos + 4 > map) {
      trace("program stream map: entry passes the map end\n");
      return 1;
    }
    const int info = (e[pos + 2] << 8) | e[pos + 3];
    if (pos + 4 + info > map) {
      trace("program stream map: elementary_stream_info_length %d passes the map end\n", info);
      return 1;
    }
    pos += 4 + info;
    ++count;
  }
  stream_types.clear();
  stream_ids.clear();
  info_lengths.clear();
  entry_descriptors.clear();
  entry_count = count;
  stream_types.reserve(static_cast<size_t>(count));
  stream_ids.reserve(static_cast<size_t>(count));
  info_lengths.reserve(static_cast<size_t>(count));
  entry_descriptors.resize(static_cast<size_t>(count));
  for (int pos = 0, i = 0; i < count; ++i) {
    const int info = (e[pos + 2] << 8) | e[pos + 3];
    stream_types.push_back(e[pos]);
    stream_ids.push_back(e[pos + 1]);
    info_lengths.push_back(info);
    if (info > 0) entry_descriptors[static_cast<size_t>(i)].assign(e + pos + 4, e + pos + 4 + info);
    pos += 4 + info;
  }
  // The CRC closes the map: program_stream_map_length counts it.
  const uint8_t* c = p + 6 + program_stream_map_length - 4;
  CRC_32 = (static_cast<uint32_t>(c[0]) << 24) | (static_cast<uint32_t>(c[1]) << 16) |
           (static_cast<uint32_t>(c[2]) << 8) | c[3];
  if (mpeg_crc32(p, static_cast<size_t>(program_stream_map_length) + 6) != 0)
    trace("program stream map: CRC_32 mismatch (tolerated)\n");
  return 0;
}
