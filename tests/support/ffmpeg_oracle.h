// ffmpeg as the oracle of written pictures and streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tsupport {

// What ffmpeg's strict decode (CRC, buffer and every error fatal) of a file
// says; empty for a clean stream.
std::string ffmpeg_strict_messages(const std::string& in);
// ffmpeg's decode of in, after the extra options (filters), as raw pictures
// of pix_fmt written to out and read back; empty on failure.
std::vector<uint8_t> ffmpeg_raw(const std::string& in, const std::string& options, const std::string& pix_fmt,
                                const std::string& out);

}  // namespace tsupport
