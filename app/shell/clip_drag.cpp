#include "app/shell/clip_drag.h"

#include <unistd.h>

#include <cstdio>

ClipDragPayload make_clip_drag(int view_id, int row) {
  ClipDragPayload p;
  p.process_id = static_cast<int64_t>(::getpid());
  p.view_id = view_id;
  p.row = row;
  return p;
}

std::string encode_clip_drag(const ClipDragPayload& p) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "clip %lld %d %d", static_cast<long long>(p.process_id), p.view_id, p.row);
  return buf;
}

bool decode_clip_drag(const std::string& data, ClipDragPayload* out) {
  if (data.size() > 64) return false;
  long long pid = 0;
  int view = 0, row = 0, used = 0;
  if (std::sscanf(data.c_str(), "clip %lld %d %d%n", &pid, &view, &row, &used) != 3) return false;
  if (static_cast<size_t>(used) != data.size() || row < 0) return false;
  if (pid != static_cast<long long>(::getpid())) return false;
  if (out) *out = ClipDragPayload{pid, view, row};
  return true;
}
