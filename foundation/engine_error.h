// Why an engine object could not be made: a code and a message for the
// user. Factories return null (or nothing) and fill one when given.
#pragma once

#include <string>
#include <utility>

struct EngineError {
  // no_movie: nothing to show or save; no_picture: the first clip shows no
  // picture; bad_input: a file that cannot be read or used; cannot_write:
  // an output that cannot be created.
  enum Code { none = 0, no_movie = 1, no_picture = 2, bad_input = 3, cannot_write = 4 };
  int code = none;
  std::string message;
};

// Fills *error when given; returns false so that a factory can end with it.
inline bool engine_error_set(EngineError* error, int code, std::string message) {
  if (error) {
    error->code = code;
    error->message = std::move(message);
  }
  return false;
}
