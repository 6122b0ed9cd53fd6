// GOP header decode/encode, plus the time-code text parser over the same
// bytes. Whatever decodes must encode and decode back to the same fields.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/gop_header.h"
#include "foundation/timecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int length = size > (1u << 24) ? (1 << 24) : static_cast<int>(size);
  GopHdr g;
  // The first byte picks the frame rate, so every rate's rules are reached.
  if (length > 0) g.set_frame_rate_code(data[0] & 0x0F);
  const int used = g.decode(data, length);
  if (used < 0 || used > length) std::abort();
  if (used > 0) {
    // Re-read what encode wrote, with a picture start code after it as in a
    // stream (user data ends at the next start code).
    static const uint8_t kPicture[] = {0, 0, 1, 0, 0, 0, 0, 0};
    std::vector<uint8_t> out(8 + static_cast<size_t>(g.user_length) + sizeof kPicture);
    const int written = g.encode(out.data(), static_cast<int>(out.size()));
    if (written != 8 + g.user_length) std::abort();
    std::memcpy(out.data() + written, kPicture, sizeof kPicture);
    GopHdr back;
    back.set_frame_rate_code(g.frame_rate_code);
    const int reread = back.decode(out.data(), static_cast<int>(out.size()));
    if (back.time_code != g.time_code || back.closed_gop != g.closed_gop || back.broken_link != g.broken_link ||
        !(back.time == g.time))
      std::abort();
    // User data cut at the end of the input may end in a partial start code,
    // which the appended one would complete; only clean tails must match.
    const bool clean_tail =
        g.user_length == 0 || (g.user_data[g.user_length - 1] > 1 && g.user_data[g.user_length - 2] > 1);
    if (clean_tail) {
      if (reread != written || back.user_length != g.user_length) std::abort();
      if (g.user_length > 0 && std::memcmp(back.user_data.data(), g.user_data.data(), g.user_length) != 0)
        std::abort();
    }
    char text[SMPTE_TEXT_SIZE];
    g.time.to_string(text, 0);
    g.time.to_string(text, 1);
    // The stored time code is always a valid one: it re-reads unchanged.
    SMPTE_TimeCode again = g.time;
    if (again.set_gop_bits(g.time.to_gop_bits()) != 0 || !(again == g.time)) std::abort();
    g.set_frame(g.get_frame(), g.get_drop_frame_flag());
  }

  // The same bytes as time-code text.
  std::vector<char> text(data, data + (size > 64 ? 64 : size));
  text.push_back('\0');
  char out[SMPTE_TEXT_SIZE];
  int drop = 0;
  if (parse_time_code_text(text.data(), g.frame_rate, &drop, out) != 0 && std::strlen(out) != 11) std::abort();
  g.time.string_2_time(text.data());
  return 0;
}
