// Cell texts of the owner-drawn lists: a text too wide for its column is
// cut one character at a time and ends in "...".
#pragma once

#include <functional>
#include <string>

// Width in pixels of a text as the list draws it.
using TextExtent = std::function<int(const std::string& text)>;

// The text when its extent plus offset fits width; else the longest head
// that fits with "..." after it, keeping at least one character. Cuts
// never split a UTF-8 sequence.
std::string fit_text_ellipsis(const std::string& text, int width, int offset, const TextExtent& extent);
