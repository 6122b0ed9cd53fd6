#include "encode/mean_quant.h"

#include <memory>
#include <vector>

#include "decode/picdec.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"

MeanQuantizer::MeanQuantizer(const uint8_t* data, size_t length, int* error) {
  int err = 1;
  if (error) *error = 1;
  const int64_t n = static_cast<int64_t>(length);
  StartCodeCursor cur(data, n);
  SeqHdr seq;
  if (!cur.find(0xB3) || seq.decode(data + cur.offset(), static_cast<int>(n - cur.offset())) <= 0 || seq.invalid) {
    trace("MeanQuantizer::ctor (ERROR): not an MPEG video\n");
    return;
  }
  // GOP starts (or the sequence header when the stream has no GOP header).
  std::vector<int64_t> gops;
  std::vector<int64_t> pictures;
  cur.seek(0);
  while (cur.next()) {
    if (cur.code() == 0xB8) gops.push_back(cur.offset());
    else if (cur.code() == 0x00) pictures.push_back(cur.offset());
  }
  if (gops.empty() && !pictures.empty()) gops.push_back(pictures.front());
  const int g = static_cast<int>(gops.size());
  // First two, middle two, last two; each at most once, in stream order.
  std::vector<int> pick;
  for (int i : {0, 1, g / 2, g / 2 + 1, g - 1, g}) {
    if (i < 0 || i >= g || (!pick.empty() && i <= pick.back())) continue;
    pick.push_back(i);
  }
  auto decoder = std::make_unique<PicDecoder>(&seq);
  const double unit = seq.mpeg2 ? 1.0 : 2.0;
  for (int gi : pick) {
    const int64_t from = gops[static_cast<size_t>(gi)];
    const int64_t to = gi + 1 < g ? gops[static_cast<size_t>(gi) + 1] : n;
    for (size_t p = 0; p < pictures.size(); ++p) {
      const int64_t at = pictures[p];
      if (at < from || at >= to) continue;
      const int64_t end = p + 1 < pictures.size() ? pictures[p + 1] : n;
      if (end - at < 8 || end - at > (1 << 30)) continue;
      if (decoder->decode_mb_info(data + at, static_cast<int>(end - at), nullptr) <= 0) continue;
      const int type = decoder->get_picture_header().picture_coding_type;
      const double mq = decoder->get_mean_quant();
      if (mq <= 0) continue;
      const int k = type == 3 ? 2 : type == 2 ? 1 : 0;
      sum[k] += mq * unit;
      ++count[k];
      err = 0;
    }
  }
  if (error) *error = err;
}
