// Diagnostic trace: one printf-style sink for every failure site.
// Discarded unless TAMSEL_TRACE=1 is set in the environment or a test
// installs a capture sink.
//
// Format: every call produces one record, the formatted message with its
// trailing newlines stripped and exactly one '\n' added, so callers may end
// their format with "\n" or not. Failure sites word their messages as
// "Who (ERROR): what" (some older sites "ERROR (Who): what"); the text is
// the caller's and is never rewritten. A message with inner newlines stays
// one record: the sink receives it in one call and stderr in one write, so
// records of different threads never interleave. Messages are not cut.
#pragma once

#include <functional>
#include <string>

void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink that receives every record, '\n' included (null restores
// the default). Returns the previous sink. Thread-safe.
using TraceSink = std::function<void(const std::string&)>;
TraceSink trace_set_sink(TraceSink sink);

// True when messages go anywhere; lets callers skip formatting work.
bool trace_enabled();
