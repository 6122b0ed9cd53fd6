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
// Two seconds of video and 48 kHz stereo linear PCM in a transport stream of
// 188-byte packets, as Blu-ray recorders carry it (ffmpeg writes 192-byte
// packets; their four-byte arrival stamps are dropped). Empty on failure.
std::string lpcm_transport_stream(const std::string& path);

}  // namespace tsupport
