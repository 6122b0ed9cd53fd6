#include "foundation/trace.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_trace_mutex;
TraceSink g_sink;
std::atomic<bool> g_has_sink{false};

bool env_enabled() {
  static const bool on = [] {
    const char* v = std::getenv("TAMSEL_TRACE");
    return v && *v && std::strcmp(v, "0") != 0;
  }();
  return on;
}

// One write for the whole record, so that another process's output on the
// same stderr cannot land inside it either.
void write_stderr(const std::string& record) {
  const char* p = record.data();
  size_t left = record.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

bool trace_enabled() { return g_has_sink.load(std::memory_order_relaxed) || env_enabled(); }

TraceSink trace_set_sink(TraceSink sink) {
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  TraceSink old = std::move(g_sink);
  g_sink = std::move(sink);
  g_has_sink.store(static_cast<bool>(g_sink), std::memory_order_relaxed);
  return old;
}

void trace(const char* fmt, ...) {
  if (!trace_enabled()) return;
  std::string record(256, '\0');
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(record.data(), record.size(), fmt, ap);
  va_end(ap);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(n) >= record.size()) {
    record.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(record.data(), record.size(), fmt, again);
  }
  va_end(again);
  record.resize(static_cast<size_t>(n));
  while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.pop_back();
  record.push_back('\n');
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  if (g_sink) {
    g_sink(record);
  } else {
    write_stderr(record);
  }
}
