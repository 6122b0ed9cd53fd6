#include "foundation/system_header.h"

#include "foundation/start_code.h"
#include "foundation/trace.h"

SysHdr& SysHdr::operator=(const SysHdr& o) {
  if (this == &o) return *this;
  valid = o.valid;
  stream_count = o.stream_count;
  stream_ids = o.stream_ids;
  buffer_bound_scales = o.buffer_bound_scales;
  buffer_size_bounds = o.buffer_size_bounds;
  header_length = o.header_length;
  rate_bound = o.rate_bound;
  audio_bound = o.audio_bound;
  fixed_flag = o.fixed_flag;
  csps_flag = o.csps_flag;
  system_audio_lock = o.system_audio_lock;
  system_video_lock = o.system_video_lock;
  video_bound = o.video_bound;
  packet_rate_restriction = o.packet_rate_restriction;
  raw = o.raw;
  raw_length = o.raw_length;
  return *this;
}

void SysHdr::clear() {
  valid = stream_count = header_length = rate_bound = audio_bound = 0;
  fixed_flag = csps_flag = system_audio_lock = system_video_lock = 0;
  video_bound = packet_rate_restriction = raw_length = 0;
  stream_ids.clear();
  buffer_bound_scales.clear();
  buffer_size_bounds.clear();
  raw.clear();
}

void SysHdr::cleanup() {
  clear();
  stream_ids.shrink_to_fit();
  buffer_bound_scales.shrink_to_fit();
  buffer_size_bounds.shrink_to_fit();
  raw.shrink_to_fit();
}

void SysHdr::set_raw(const uint8_t* bytes, int length) {
  raw.clear();
  raw_length = 0;
  if (!bytes || length < 1) return;
  raw.assign(bytes, bytes + length);
  raw.resize(static_cast<size_t>(length) + 8, 0);
  raw_length = length;
}

int SysHdr::decode(const uint8_t* b, int n) {
  if (valid || !stream_ids.empty() || raw_length) cleanup();
  if (!b || n < 15) return 0;
  const int at = start_code_find(b, n, 0xBB, 15);
  if (at < 0) {
    trace("system header: no start code in %d bytes\n", n);
    return 0;
  }
  const uint8_t* p = b + at;
  const int avail = n - at;

  header_length = ((p[4] << 8) | p[5]) + 6;
  rate_bound = static_cast<int>((((p[6] & 0x7Fu) << 15) | (p[7] << 7u) | (p[8] >> 1)) * 400u);
  if (p[9] > 3) audio_bound = p[9] >> 2;
  fixed_flag = (p[9] >> 1) & 1;
  csps_flag = p[9] & 1;
  system_audio_lock = (p[10] >> 7) & 1;
  system_video_lock = (p[10] >> 6) & 1;
  if (p[10] & 0x1F) video_bound = p[10] & 0x1F;
  packet_rate_restriction = (p[11] >> 7) & 1;

  const int entries = (header_length - 12) / 3;
  if (entries < 1) {
    trace("system header: no stream entries (header length %d)\n", header_length - 6);
    valid = 0;
    return 0;
  }
  valid = 1;
  stream_ids.reserve(static_cast<size_t>(entries));
  buffer_bound_scales.reserve(static_cast<size_t>(entries));
  buffer_size_bounds.reserve(static_cast<size_t>(entries));
  int pos = 12;
  int examined = 0;
  while (examined < entries && pos + 3 <= avail) {
    const uint8_t* e = p + pos;
    if (e[0] & 0x80) {
      stream_ids.push_back(e[0]);
      buffer_bound_scales.push_back(static_cast<uint8_t>((e[1] >> 5) & 1));
      buffer_size_bounds.push_back(((e[1] & 0x1F) << 8) | e[2]);
    }
    pos += 3;
    ++examined;
  }
  if (examined < entries) trace("system header: truncated after %d of %d entries\n", examined, entries);
  stream_count = static_cast<int>(stream_ids.size());
  set_raw(p, pos);
  return stream_count;
}

int SysHdr::get_stream_count() const {
  int av = 0;
  bool others = false;
  for (int i = 0; i < stream_count; ++i) {
    const uint8_t id = stream_ids[static_cast<size_t>(i)];
    if (id >= 0xC0 && id <= 0xEF)
      ++av;
    else
      others = true;
  }
  if (others && av < audio_bound + video_bound) av = audio_bound + video_bound;
  return av;
}

int SysHdr::get_stream_id(int index) const {
  if (index < 0 || index >= stream_count || stream_ids.empty()) return 0;
  return stream_ids[static_cast<size_t>(index)];
}
