// Diagnostic trace: one printf-style sink for every failure site.
// Discarded unless TAMSEL_TRACE=1 is set in the environment or a test
// installs a capture sink.
#pragma once

#include <functional>
#include <string>

void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink that receives every formatted message (null restores the
// default). Returns the previous sink. Thread-safe.
using TraceSink = std::function<void(const std::string&)>;
TraceSink trace_set_sink(TraceSink sink);

// True when messages go anywhere; lets callers skip formatting work.
bool trace_enabled();
