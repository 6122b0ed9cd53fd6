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

}  // namespace tsupport
