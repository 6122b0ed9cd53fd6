// Time-code texts of the player's position field and the Save dialog:
// "H:MM:SS:PP" at a frame rate, without drop-frame counting.
#pragma once

#include <string>

// The first run of non-blank characters (at most 16), with "0:" put in
// front once per separator (":" or ";") short of three.
std::string normalize_time_code(const std::string& text);
// The frame of a time-code text at a rate; -1 when the text is not one.
int timecode_text_to_frame(const std::string& text, double rate);
// "%d:%02d:%02d:%02d" of a frame at a rate (whole seconds of the rounded
// rate plus pictures); a negative frame counts as 0.
std::string frame_to_timecode_text(int frame, double rate);
std::string seconds_to_timecode_text(double seconds, double rate);
// The shortest form of a time-code text: "H;MM;SS;PP" with hours,
// "M;SS;PP" with minutes, else "S;PP"; empty when the text is not one.
std::string shortest_timecode_text(const std::string& text, double rate);
