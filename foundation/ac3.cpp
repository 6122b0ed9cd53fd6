#include "foundation/ac3.h"

#include <algorithm>
#include <cstring>

#include "foundation/audio_info.h"
#include "foundation/bitstream.h"
#include "foundation/crc16.h"
#include "foundation/trace.h"

namespace {

// Nominal bit rates by frmsizecod / 2.
constexpr int32_t kBitRates[19] = {32000,  40000,  48000,  56000,  64000,  80000,  96000,
                                   112000, 128000, 160000, 192000, 224000, 256000, 320000,
                                   384000, 448000, 512000, 576000, 640000};

// 16-bit words per frame by [frmsizecod][fscod] (A/52 frame-size table).
constexpr uint16_t kFrameWords[38][3] = {
    {64, 69, 96},       {64, 70, 96},       {80, 87, 120},      {80, 88, 120},      {96, 104, 144},
    {96, 105, 144},     {112, 121, 168},    {112, 122, 168},    {128, 139, 192},    {128, 140, 192},
    {160, 174, 240},    {160, 175, 240},    {192, 208, 288},    {192, 209, 288},    {224, 243, 336},
    {224, 244, 336},    {256, 278, 384},    {256, 279, 384},    {320, 348, 480},    {320, 349, 480},
    {384, 417, 576},    {384, 418, 576},    {448, 487, 672},    {448, 488, 672},    {512, 557, 768},
    {512, 558, 768},    {640, 696, 960},    {640, 697, 960},    {768, 835, 1152},   {768, 836, 1152},
    {896, 975, 1344},   {896, 976, 1344},   {1024, 1114, 1536}, {1024, 1115, 1536}, {1152, 1253, 1728},
    {1152, 1254, 1728}, {1280, 1393, 1920}, {1280, 1394, 1920},
};

constexpr int kAcmodChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};

const char* const kLanguages[128] = {
    nullptr, "Albanian", "Breton", "Catalan", "Croatian", "Welsh", "Czech", "Danish", "German", "English",
    "Spanish", "Esperanto", "Estonian", "Basque", "Faroese", "French", "Frisian", "Irish", "Gaelic",
    "Galician", "Icelandic", "Italian", "Lappish", "Latin", "Latvian", "Luxembourgian", "Lithuanian",
    "Hungarian", "Maltese", "Dutch", "Norwegian", "Occitan", "Polish", "Portuguese", "Romanian", "Romansh",
    "Serbian", "Slovak", "Slovene", "Finnish", "Swedish", "Turkish", "Flemish", "Walloon",
    // 44-63 unnamed
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    "background sound/clean feed",
    // 65-68 unnamed
    nullptr, nullptr, nullptr, nullptr,
    "Zulu", "Vietnamese", "Uzbek", "Urdu", "Ukrainian", "Thai", "Telugu", "Tatar", "Tamil", "Tadzhik",
    "Swahili", "Sranan Tongo", "Somali", "Sinhalese", "Shona", "Serbo-Croat", "Ruthenian", "Russian",
    "Quechua", "Pustu", "Punjabi", "Persian", "Papamiento", "Oriya", "Nepali", "Ndebele", "Marathi",
    "Moldavian", "Malaysian", "Malagasay", "Macedonian", "Laotian", "Korean", "Khmer", "Kazakh", "Kannada",
    "Japanese", "Indonesian", "Hindi", "Hebrew", "Hausa", "Gurani", "Gujurati", "Greek", "Georgian",
    "Fulani", "Dari", "Churash", "Chinese", "Burmese", "Bulgarian", "Bengali", "Belorussian", "Bambora",
    "Azerbijani", "Assamese", "Armenian", "Arabic", "Amharic",
};
static_assert(sizeof(kLanguages) / sizeof(kLanguages[0]) == 128);

}  // namespace

// ---- AC3Bsi

int AC3Bsi::reset() {
  syncword = crc1 = fscod = frmsizecod = bsid = bsmod = acmod = 0;
  cmixlev = surmixlev = dsurmod = lfeon = dialnorm = compre = compr = 0;
  langcode = langcod = audprodie = mixlevel = roomtyp = 0;
  dialnorm2 = compr2e = compr2 = langcod2e = langcod2 = audprodi2e = mixlevel2 = roomtyp2 = 0;
  copyrightb = origbs = timecod1e = timecod1 = timecod2e = timecod2 = addbsie = addbsil = 0;
  xbsi1e = dmixmod = ltrtcmixlev = lorocmixlev = ltrtsurmixlev = lorosurmixlev = 0;
  xbsi2e = dsurexmod = dheadphonmod = adconvtyp = xbsi2 = encinfo = 0;
  return 0;
}

int AC3Bsi::get_sample_rate() const {
  static constexpr int kRates[4] = {48000, 44100, 32000, 0};
  int rate = kRates[fscod & 3];
  if (bsid == 9) rate /= 2;
  if (bsid == 10) rate /= 4;
  return rate;
}

int AC3Bsi::get_frame_size() const {
  if (fscod >= 3 || frmsizecod >= 38) return 0;
  return 2 * kFrameWords[frmsizecod][fscod];
}

int AC3Bsi::get_channels() const { return kAcmodChannels[acmod & 7] + (lfeon ? 1 : 0); }

// ---- AC3FrmHdr

void AC3FrmHdr::reset() {
  bsi.reset();
  valid = bit_rate = channels = frame_size = spare = max_frame_size_44k = checked_bytes = 0;
  sample_rate = 48000;
  first_offset = -1;
}

int AC3FrmHdr::decode_bsi(const uint8_t* data, int length) {
  AC3Bsi& b = bsi;
  BS bs(data, length > 0 ? static_cast<size_t>(length) : 0);
  const int r = ac3_read_bsi(b, [&bs](int n) { return bs.get_bits(n); });
  switch (r) {
    case 0:
      break;
    case 1:
      trace("ERROR (AC3FrmHdr::decode): no sync word\n");
      return 1;
    case 2:
      trace("ERROR (AC3FrmHdr::decode): illegal code: fscod = %d\n", b.fscod);
      return 1;
    case 3:
      trace("ERROR (AC3FrmHdr::decode): illegal code: frmsizecod = %d\n", b.frmsizecod);
      return 1;
    default:
      trace("ERROR (AC3FrmHdr::decode): illegal code: bsid = %d\n", b.bsid);
      return 1;
  }
  if (b.addbsie) {
    trace("WARNING (BSI): skip additional bsi (%d bytes)\n", b.addbsil + 1);
    for (int i = 0; i <= b.addbsil; ++i) bs.skip_bits(8);
  }
  bit_rate = kBitRates[b.frmsizecod >> 1];
  sample_rate = b.get_sample_rate();
  frame_size = b.get_frame_size();
  channels = 2;
  return 0;
}

int AC3FrmHdr::decode(const uint8_t* data, int length, int flags) {
  valid = 0;
  if (!data || length < 5) {
    trace("ERROR (AC3FrmHdr::decode): bytes = %d (<5)\n", length);
    return 0;
  }
  int pos = 0;
  for (;;) {
    // Next 0B 77 with at least 5 bytes from it.
    const uint8_t* hit = nullptr;
    while (length - pos >= 5) {
      hit = static_cast<const uint8_t*>(std::memchr(data + pos, 0x0B, static_cast<size_t>(length - pos - 4)));
      if (!hit) break;
      pos = static_cast<int>(hit - data);
      if (hit[1] == 0x77) break;
      ++pos;
      hit = nullptr;
    }
    if (!hit) return std::min(std::max(pos, length - 4), length);
    if (decode_bsi(data + pos, length - pos) == 0) break;
    if (length - pos > 7) {
      pos += 2;
      continue;
    }
    trace("ERROR (AC3FrmHdr::decode): data error detected\n");
    return pos;
  }
  if ((flags & kAC3CheckCrc) && length - pos >= frame_size && check_crc(frame_size, data + pos, length - pos)) {
    trace("ERROR (AC3FrmHdr::decode): CRC error detected\n");
    return pos;
  }
  valid = 1;
  return pos;
}

int AC3FrmHdr::get_max_frame_size() {
  if (valid && sample_rate == 44100 && bit_rate > 0) {
    if (max_frame_size_44k <= 0) {
      // words = ceil(bit_rate / 16 x 1536 / 44100)
      const int64_t num = static_cast<int64_t>(bit_rate) * 1536;
      const int64_t den = 16 * 44100;
      max_frame_size_44k = static_cast<int32_t>((num + den - 1) / den) * 2;
    }
    if (max_frame_size_44k > 0) return max_frame_size_44k;
  }
  return frame_size ? frame_size : 1792;
}

int AC3FrmHdr::get_audio_info(AudioInfo* info) const {
  if (!valid || !info) return 0;
  info->layer = 0;
  info->channels = channels;
  info->sample_rate = sample_rate;
  info->bit_rate = bit_rate;
  info->bits_per_sample = 16;
  info->frame_size = frame_size;
  info->stream_id = 128;
  info->full_channels = bsi.get_channels();
  return 1;
}

int AC3FrmHdr::compare(const AC3FrmHdr& o) const {
  if (this == &o) return 0;
  int diff = 0;
  if (channels != o.channels || bsi.get_channels() != o.bsi.get_channels()) diff |= 1;
  if (bit_rate != o.bit_rate) diff |= 2;
  if (sample_rate != o.sample_rate) diff |= 4;
  const int d = frame_size - o.frame_size;
  if (sample_rate == 44100 ? (d > 2 || d < -2) : d != 0) diff |= 8;
  return diff;
}

// ---- free functions

int check_crc(int frame_size, const uint8_t* data, int length) {
  if (!data || length < frame_size) {
    trace("ERROR (check_crc): bytes = %d < %d =frmsz\n", length, frame_size);
    return 0xFFFF;
  }
  if (frame_size <= 2) return 0;
  // crc1 covers the first 5/8 of the frame, crc2 the whole of it.
  const int part1 = 2 * (frame_size / 16 + frame_size / 4);
  if (part1 > 2) {
    const uint16_t c = crc16_8005(0, data + 2, size_t(part1 - 2));
    if (c) {
      trace("ERROR (check_crc): crc1 = 0x%04x\n", c);
      return c;
    }
  }
  const uint16_t c = crc16_8005(0, data + 2, size_t(frame_size - 2));
  if (c) {
    trace("ERROR (check_crc): crc2 = 0x%04x\n", c);
    return c;
  }
  return 0;
}

int ac3_find_frame(const AC3FrmHdr& reference, const uint8_t* data, int length, AC3FrmHdr* out) {
  if (!out) return 0;
  out->valid = 0;
  if (!data) return 0;
  int pos = 0;
  while (length - pos >= 6) {
    const int skipped = out->decode(data + pos, length - pos, 0);
    if (!out->valid) return pos + skipped;
    if (out->equals(reference)) return pos + skipped;
    out->valid = 0;
    pos += skipped + 2;
  }
  return std::max(0, std::min(pos, length));
}

int ac3_check_frames(AC3FrmHdr* h, const uint8_t* data, int length, int count, int exact) {
  if (!h) return 0;
  h->first_offset = -1;
  h->checked_bytes = 0;
  h->valid = 0;
  if (!data || length < 0) length = 0;
  if (!exact && count < 2) count = 2;
  int pos = 0;
  int run = 0;
  int failures = 0;
  // A last frame that fills the data exactly is visited too (see the MPEG
  // audio check_frames).
  while (length - pos >= h->frame_size && length - pos >= 5 && run < count) {
    const int skipped = h->decode(data + pos, length - pos, kAC3CheckCrc);
    if (h->valid) {
      run = skipped == 0 ? run + 1 : 0;
      if (h->first_offset < 0) h->first_offset = pos + skipped;
      pos += skipped + h->frame_size;
      continue;
    }
    if (failures >= count) {
      h->checked_bytes = std::min(pos, length);
      return 0;
    }
    ++failures;
    pos += skipped ? skipped : 16;
  }
  h->checked_bytes = std::min(pos, length);
  if (run >= count && run > 0) return 1;
  if (run > 0 && static_cast<int64_t>(length) - static_cast<int64_t>(run) * h->frame_size < h->frame_size) return 1;
  h->first_offset = 0;
  return 0;
}

int ac3_audio_info(const uint8_t* data, int* length, AudioInfo* info) {
  if (!data || !length || *length <= 0) return 0;
  AC3FrmHdr h;
  int changed = 0;
  if (ac3_check_frames(&h, data, *length, 1, 1) && info) {
    AudioInfo found = *info;
    h.get_audio_info(&found);
    if (utils_same_audio_info(found, *info)) {
      *info = found;
      changed = 1;
    }
  }
  *length -= h.checked_bytes;
  return changed;
}

const char* ac3_language_name(int code) {
  if (code < 0 || code > 127) return nullptr;
  return kLanguages[code];
}

int ac3_bit_rate_index(int bps) {
  for (int i = 0; i < 19; ++i)
    if (kBitRates[i] == bps) return i;
  return 11;
}

// ---- AC3Descriptor

void AC3Descriptor::clear() {
  descriptor_tag = descriptor_length = sample_rate_code = bsid = bit_rate_code = surround_mode = 0;
  bsmod = num_channels = full_svc = langcod = langcod2 = mainid = mainid_rest = asvcflags = 0;
  textlen = text_code = 0;
  text.clear();
  additional_info.clear();
  valid = 0;
}

namespace {
int keep_bytes(std::vector<uint8_t>& dst, const uint8_t* bytes, int count) {
  dst.clear();
  if (!bytes || count < 1) return 0;
  dst.assign(bytes, bytes + count);
  return count;
}
}  // namespace

int AC3Descriptor::set_text(const uint8_t* bytes, int count) { return keep_bytes(text, bytes, count); }

int AC3Descriptor::set_additional_info(const uint8_t* bytes, int count) {
  return keep_bytes(additional_info, bytes, count);
}

int AC3Descriptor::decode(const uint8_t* bytes, int size) {
  valid = 0;
  if (!bytes || size < 8) {
    trace("ERROR (AC3Descriptor::decode): invalid input(s)\n");
    return 0;
  }
  int skipped = 0;
  if (bytes[0] == 5 && bytes[1] == 4) {  // registration descriptor "AC-3" in front
    skipped = 6;
    bytes += 6;
    size -= 6;
  }
  const int length = size >= 2 ? bytes[1] : 0;
  // Four fixed bytes follow the tag and length.
  if (size < 2 || length > size - 2 || length < 4) {
    trace("ERROR (AC3Descriptor::decode): bytes=%d < %d\n", size, length + 2);
    return 0;
  }
  // Only the ATSC layout is known here; another descriptor (DVB's 0x6A, a
  // language descriptor) would be read as garbage.
  if (bytes[0] != 0x81) {
    trace("ERROR (AC3Descriptor::decode): descriptor_tag = 0x%02x is not 0x81\n", bytes[0]);
    return 0;
  }
  descriptor_tag = bytes[0];
  descriptor_length = length;
  sample_rate_code = bytes[2] >> 5;
  bsid = bytes[2] & 0x1F;
  bit_rate_code = bytes[3] >> 2;
  surround_mode = bytes[3] & 3;
  bsmod = bytes[4] >> 5;
  num_channels = (bytes[4] >> 1) & 15;
  full_svc = bytes[4] & 1;
  langcod = length >= 4 ? bytes[5] : 0;
  if (sample_rate_code == 3) {
    trace("ERROR (AC3Descriptor::decode): invalid sample_rate_code = 0x03\n");
    return 0;
  }
  if ((bit_rate_code & 0x1F) > 18) {  // the top bit only flags an upper limit
    trace("ERROR (AC3Descriptor::decode): invalid bit_rate_code = 0x%02x\n", bit_rate_code);
    return 0;
  }
  if (surround_mode == 3) {
    trace("ERROR (AC3Descriptor::decode): invalid surround_mode = 0x03\n");
    return 0;
  }
  if (num_channels >= 14) {
    trace("ERROR (AC3Descriptor::decode): invalid num_channels = 0x%02x\n", num_channels);
    return 0;
  }
  const int end = 2 + length;
  int at = 6;
  int room = length - 4 - (num_channels == 0 ? 1 : 0) - 2;
  langcod2 = mainid = mainid_rest = asvcflags = textlen = text_code = 0;
  if (num_channels == 0 && at < end) langcod2 = bytes[at++];
  if (at < end) {
    const uint8_t v = bytes[at++];
    if (bsmod >= 2) {
      asvcflags = v;
    } else {
      mainid = v >> 5;
      mainid_rest = v & 0x1F;
    }
  }
  if (at < end) {
    textlen = bytes[at] >> 1;
    text_code = bytes[at] & 1;
    ++at;
  }
  if (room < 0) room = 0;
  if (textlen > room) {
    trace("ERROR (AC3Descriptor::decode): textlen=%d\n", textlen);
    return 0;
  }
  set_text(bytes + at, textlen);
  at += textlen;
  set_additional_info(bytes + at, std::min(room - textlen, end - at));
  valid = 1;
  return length + 2 + skipped;
}

int AC3Descriptor::encode(uint8_t* buffer, const AC3FrmHdr& h, int size) {
  if (!h.valid) {
    trace("ERROR (encode): ac3 is NOT valid\n");
    return 0;
  }
  const int total = h.bsi.acmod == 0 ? 9 : 8;
  if (!buffer || size < total) {
    trace("ERROR (encode): buffer size = %d < %d\n", size, total);
    return 0;
  }
  text.clear();
  additional_info.clear();
  descriptor_tag = 0x81;
  descriptor_length = total - 2;
  sample_rate_code = h.bsi.fscod;
  bsid = h.bsi.bsid;
  bit_rate_code = ac3_bit_rate_index(h.bit_rate);
  surround_mode = h.bsi.dsurmod;
  bsmod = h.bsi.bsmod;
  num_channels = h.bsi.acmod;
  full_svc = 1;
  langcod = h.bsi.langcod;
  langcod2 = h.bsi.langcod2;
  mainid = mainid_rest = asvcflags = textlen = text_code = 0;
  valid = 1;
  int at = 0;
  buffer[at++] = 0x81;
  buffer[at++] = static_cast<uint8_t>(descriptor_length);
  buffer[at++] = static_cast<uint8_t>((sample_rate_code << 5) | (bsid & 0x1F));
  buffer[at++] = static_cast<uint8_t>((bit_rate_code << 2) | (surround_mode & 3));
  buffer[at++] = static_cast<uint8_t>((bsmod << 5) | ((num_channels & 15) << 1) | full_svc);
  buffer[at++] = static_cast<uint8_t>(langcod);
  if (num_channels == 0) buffer[at++] = static_cast<uint8_t>(langcod2);
  buffer[at++] = bsmod < 2 ? 0x1F : static_cast<uint8_t>(asvcflags);
  buffer[at++] = 0;  // no text
  return at;
}
