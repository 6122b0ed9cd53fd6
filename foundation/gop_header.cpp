#include "foundation/gop_header.h"

#include <cstring>

#include "foundation/mpeg_fields.h"
#include "foundation/start_code.h"

namespace {

constexpr int kExtensionCode = 0xB5;
constexpr int kUserDataStartCode = 0x1B2;
constexpr int kHeaderBytes = 8;
constexpr int kSpareBytes = 32;

void store_bytes(std::vector<uint8_t>& buffer, int32_t& length, const uint8_t* data, int n) {
  if (!data || n <= 0) {
    buffer.clear();
    buffer.shrink_to_fit();
    length = 0;
    return;
  }
  // Callers may read a little past the data (bit readers), hence the spare
  // zero bytes.
  buffer.assign(static_cast<size_t>(n) + kSpareBytes, 0);
  std::memcpy(buffer.data(), data, static_cast<size_t>(n));
  length = n;
}

}  // namespace

GopHdr::GopHdr() { reset(); }

void GopHdr::reset() {
  time_code = 1u << 12;  // marker bit only
  closed_gop = 0;
  broken_link = 0;
  store_bytes(ext_data, ext_length, nullptr, 0);
  store_bytes(user_data, user_length, nullptr, 0);
  frame_rate_code = 4;
  frame_rate = mpeg_get_frame_rate(4);
  time = SMPTE_TimeCode();
  time.set_frame_rate(frame_rate);
  time.init(0);
}

void GopHdr::cleanup() { reset(); }

void GopHdr::set_extension_data(const uint8_t* data, int length) { store_bytes(ext_data, ext_length, data, length); }

void GopHdr::set_user_data(const uint8_t* data, int length) { store_bytes(user_data, user_length, data, length); }

int GopHdr::decode(const uint8_t* data, int length) {
  if (!data || length < kHeaderBytes) return 0;
  // One cursor carries the walk from the header through its extension and
  // user data.
  StartCodeCursor sc(data, length);
  if (!sc.find(0xB8) || sc.left() < kHeaderBytes) return 0;
  const int at = static_cast<int>(sc.offset());

  // time_code(25) closed_gop(1) broken_link(1) reserved(5) after the start code
  const uint8_t* h = data + at + 4;
  time_code = (uint32_t(h[0]) << 17) | (uint32_t(h[1]) << 9) | (uint32_t(h[2]) << 1) | (h[3] >> 7);
  closed_gop = (h[3] >> 6) & 1u;
  broken_link = (h[3] >> 5) & 1u;
  time.set_gop_bits(time_code);

  // Data of an earlier header must not survive into this one.
  set_extension_data(nullptr, 0);
  set_user_data(nullptr, 0);

  int pos = at + kHeaderBytes;
  if (length - pos < 5) return pos;

  sc.seek(pos);
  if (sc.next()) pos = static_cast<int>(sc.offset());  // past any zero stuffing
  if (sc.code() == kExtensionCode) {
    const int end = static_cast<int>(sc.unit_end());
    set_extension_data(data + pos, end - pos);
    pos = end;
  }

  if (length - pos < 5) return pos;
  const int here = (data[pos] << 24) | (data[pos + 1] << 16) | (data[pos + 2] << 8) | data[pos + 3];
  if (here == kUserDataStartCode) {
    const int end = static_cast<int>(sc.unit_end());
    set_user_data(data + pos, end - pos);
    pos = end;
  }
  return pos;
}

int GopHdr::encode(uint8_t* buffer, int size) const {
  if (!buffer || size < kHeaderBytes) return 0;
  buffer[0] = 0;
  buffer[1] = 0;
  buffer[2] = 1;
  buffer[3] = 0xB8;
  buffer[4] = static_cast<uint8_t>(time_code >> 17);
  buffer[5] = static_cast<uint8_t>(time_code >> 9);
  buffer[6] = static_cast<uint8_t>(time_code >> 1);
  buffer[7] = static_cast<uint8_t>(((time_code & 1u) << 7) | ((closed_gop & 1u) << 6) | ((broken_link & 1u) << 5));
  if (user_length > 0 && static_cast<int>(user_data.size()) >= user_length && size - kHeaderBytes >= user_length) {
    std::memcpy(buffer + kHeaderBytes, user_data.data(), static_cast<size_t>(user_length));
    return kHeaderBytes + user_length;
  }
  return kHeaderBytes;
}

int GopHdr::set_frame_rate_code(int code) {
  if (!mpeg_is_valid_frame_rate_code(code)) return 0;
  frame_rate_code = code;
  frame_rate = mpeg_get_frame_rate(code);
  time.set_frame_rate(frame_rate);
  return 1;
}

int GopHdr::set_frame_rate(double rate) {
  const int code = mpeg_find_frame_rate_code(rate);
  if (!code) return 0;
  return set_frame_rate_code(code);
}

int GopHdr::set_frame(int frame, int drop) {
  time.init(drop);
  time.smpte_4_gop(frame);
  time_code = time.to_gop_bits();
  return time.to_frame();
}
