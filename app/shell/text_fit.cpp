#include "app/shell/text_fit.h"

namespace {

// Start of the last character of s (s not empty).
size_t last_char_start(const std::string& s) {
  size_t i = s.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return i;
}

}  // namespace

std::string fit_text_ellipsis(const std::string& text, int width, int offset, const TextExtent& extent) {
  if (extent(text) + offset <= width) return text;
  static const std::string dots = "...";
  const int dots_width = extent(dots);
  std::string head = text;
  while (!head.empty()) {
    const size_t last = last_char_start(head);
    if (last == 0) break;  // one character left
    if (extent(head) + offset + dots_width <= width) break;
    head.erase(last);
  }
  return head + dots;
}
