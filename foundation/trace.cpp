#include "foundation/trace.h"

#include <atomic>
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
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  std::lock_guard<std::mutex> lock(g_trace_mutex);
  if (g_sink) {
    g_sink(buf);
  } else {
    std::fputs(buf, stderr);
  }
}
