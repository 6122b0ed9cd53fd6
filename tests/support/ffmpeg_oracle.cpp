#include "ffmpeg_oracle.h"

#include "support.h"

namespace tsupport {

std::string ffmpeg_strict_messages(const std::string& in) {
  std::string msg;
  const int rc = run("ffmpeg -nostdin -hide_banner -v error -err_detect +crccheck+buffer+explode -i " + sh_quote(in) +
                         " -f null - 2>&1",
                     &msg);
  if (rc != 0 && msg.empty()) msg = "ffmpeg exit status " + std::to_string(rc);
  return msg;
}

std::vector<uint8_t> ffmpeg_raw(const std::string& in, const std::string& options, const std::string& pix_fmt,
                                const std::string& out) {
  if (run("ffmpeg -nostdin -v error -i " + sh_quote(in) + options + " -fps_mode passthrough -f rawvideo -pix_fmt " +
          pix_fmt + " -y " + sh_quote(out)) != 0)
    return {};
  return read_file(out);
}

std::string lpcm_transport_stream(const std::string& path) {
  const std::string m2ts = path + ".m2ts";
  if (run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=25:duration=2 -f lavfi -i "
          "sine=f=440:d=2:r=48000 -ac 2 -c:v mpeg2video -c:a pcm_bluray -mpegts_m2ts_mode 1 -f mpegts " +
          sh_quote(m2ts)) != 0)
    return "";
  const auto in = read_file(m2ts);
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 192 <= in.size(); i += 192) out.insert(out.end(), in.begin() + long(i) + 4, in.begin() + long(i) + 192);
  return write_file(path, out) ? path : "";
}

}  // namespace tsupport
