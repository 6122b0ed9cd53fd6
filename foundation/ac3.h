// AC-3 (ATSC A/52) syncinfo and bit stream information, the frame search and
// frame-run check built on them, and the AC-3 audio descriptor of a
// transport stream's program map.
#pragma once

#include <cstdint>
#include <vector>

struct AudioInfo;

// Bit stream information of one frame, in stream order. Fields that a frame
// does not carry keep the values documented at AC3FrmHdr::decode_bsi.
struct AC3Bsi {
  AC3Bsi() { reset(); }
  // Zeroes every field; returns 0.
  int reset();

  // 48000, 44100 or 32000 Hz by fscod, halved for bsid 9 and quartered for
  // bsid 10; 0 for the reserved fscod.
  int get_sample_rate() const;
  // Bytes of the whole frame (A/52 frame-size table); 0 for reserved codes.
  int get_frame_size() const;
  // Full-band channels of acmod plus the LFE channel.
  int get_channels() const;

  uint16_t syncword, crc1, fscod, frmsizecod, bsid, bsmod, acmod;
  uint16_t cmixlev, surmixlev, dsurmod, lfeon, dialnorm, compre, compr;
  uint16_t langcode, langcod, audprodie, mixlevel, roomtyp;
  uint16_t dialnorm2, compr2e, compr2, langcod2e, langcod2, audprodi2e, mixlevel2, roomtyp2;
  uint16_t copyrightb, origbs, timecod1e, timecod1, timecod2e, timecod2, addbsie, addbsil;
  uint16_t xbsi1e, dmixmod, ltrtcmixlev, lorocmixlev, ltrtsurmixlev, lorosurmixlev;
  uint16_t xbsi2e, dsurexmod, dheadphonmod, adconvtyp, xbsi2, encinfo;
};

// Reads syncinfo and bit stream information in stream order through
// get(n), which returns the next n bits. 0 when read up to addbsil (the
// caller skips the addbsil + 1 bytes of additional information); reading
// stops after acmod with 1 (no sync word), 4 (bsid above 10: Enhanced
// AC-3 or later, laid out differently), 2 (fscod 3) or 3 (frmsizecod 38 or
// above). Fields the frame does not carry are 0, but the Annex D mix levels
// (bsid 6) which default to -3 dB (code 4).
template <class Get>
int ac3_read_bsi(AC3Bsi& b, Get&& get) {
  auto f = [&get](int n) { return static_cast<uint16_t>(get(n)); };
  b.reset();
  b.ltrtcmixlev = b.lorocmixlev = b.ltrtsurmixlev = b.lorosurmixlev = 4;
  b.syncword = f(16);
  b.crc1 = f(16);
  b.fscod = f(2);
  b.frmsizecod = f(6);
  b.bsid = f(5);
  b.bsmod = f(3);
  b.acmod = f(3);
  if (b.syncword != 0x0B77) return 1;
  if (b.bsid > 10) return 4;
  if (b.fscod == 3) return 2;
  if (b.frmsizecod >= 38) return 3;
  if ((b.acmod & 1) && b.acmod != 1) b.cmixlev = f(2);
  if (b.acmod & 4) b.surmixlev = f(2);
  if (b.acmod == 2) b.dsurmod = f(2);
  b.lfeon = f(1);
  b.dialnorm = f(5);
  if ((b.compre = f(1))) b.compr = f(8);
  if ((b.langcode = f(1))) b.langcod = f(8);
  if ((b.audprodie = f(1))) {
    b.mixlevel = f(5);
    b.roomtyp = f(2);
  }
  if (b.acmod == 0) {  // 1+1: the second channel's own values
    b.dialnorm2 = f(5);
    if ((b.compr2e = f(1))) b.compr2 = f(8);
    if ((b.langcod2e = f(1))) b.langcod2 = f(8);
    if ((b.audprodi2e = f(1))) {
      b.mixlevel2 = f(5);
      b.roomtyp2 = f(2);
    }
  }
  b.copyrightb = f(1);
  b.origbs = f(1);
  if (b.bsid == 6) {  // alternate syntax: extended information in place of time codes
    if ((b.xbsi1e = f(1))) {
      b.dmixmod = f(2);
      b.ltrtcmixlev = f(3);
      b.ltrtsurmixlev = f(3);
      b.lorocmixlev = f(3);
      b.lorosurmixlev = f(3);
      // Surround codes 0-2 are reserved; they play as -3 dB.
      if (b.ltrtsurmixlev < 3) b.ltrtsurmixlev = 3;
      if (b.lorosurmixlev < 3) b.lorosurmixlev = 3;
    }
    if ((b.xbsi2e = f(1))) {
      b.dsurexmod = f(2);
      b.dheadphonmod = f(2);
      b.adconvtyp = f(1);
      b.xbsi2 = f(8);
      b.encinfo = f(1);
    }
  } else {
    if ((b.timecod1e = f(1))) b.timecod1 = f(14);
    if ((b.timecod2e = f(1))) b.timecod2 = f(14);
  }
  if ((b.addbsie = f(1))) b.addbsil = f(6);
  return 0;
}

// Flag of AC3FrmHdr::decode: check both CRC words of a whole frame.
constexpr int kAC3CheckCrc = 2;

class AC3FrmHdr {
 public:
  AC3FrmHdr() { reset(); }
  AC3FrmHdr(const AC3FrmHdr&) = default;
  AC3FrmHdr& operator=(const AC3FrmHdr&) = default;

  // Zeroes everything but the sample rate (48000); first_offset -1.
  void reset();

  // Finds and parses the next frame header; returns the bytes skipped
  // before it. valid tells whether one was accepted.
  int decode(const uint8_t* data, int length, int flags);
  // Parses syncinfo and bit stream information at data: 0, or 1 for an
  // illegal code.
  [[nodiscard]] int decode_bsi(const uint8_t* data, int length);

  // Bytes to reserve per frame: at 44100 Hz the longer of the two
  // alternating frame sizes, else the frame size (1792 when unknown).
  int get_max_frame_size();
  int get_channels() const { return bsi.get_channels(); }
  // 1 and info filled from a valid header; 0 otherwise.
  int get_audio_info(AudioInfo* info) const;
  // 0 when equal; else an OR of 1 (channels), 2 (bit rate), 4 (sample rate),
  // 8 (frame size; at 44100 Hz sizes within 2 bytes are equal).
  int compare(const AC3FrmHdr& other) const;
  bool equals(const AC3FrmHdr& other) const { return compare(other) == 0; }

  AC3Bsi bsi;
  int32_t valid;
  int32_t bit_rate;     // bit/s
  int32_t channels;     // output channels: always 2 after a parse
  int32_t sample_rate;  // Hz
  int32_t frame_size;   // bytes
  int32_t spare;
  int32_t max_frame_size_44k;  // cached by get_max_frame_size, 0 until then
  int32_t first_offset;        // first good frame of ac3_check_frames, -1 none
  int32_t checked_bytes;       // bytes examined by ac3_check_frames
};

// 0 when both CRC words of the frame at data check; else the failing
// remainder (0xFFFF when data holds less than a frame).
int check_crc(int frame_size, const uint8_t* data, int length);

// Bytes before the next frame whose header equals reference; out->valid
// tells whether one was found.
int ac3_find_frame(const AC3FrmHdr& reference, const uint8_t* data, int length, AC3FrmHdr* out);

// 1 when data holds count good frames in a row (count < 2 becomes 2 unless
// exact), or a shorter run cut off only by the end of the data. Fills
// header, its first_offset and checked_bytes.
int ac3_check_frames(AC3FrmHdr* header, const uint8_t* data, int length, int count, int exact);

// When data holds an AC-3 frame whose description differs from info, info
// takes it and 1 is returned; else 0. *length is reduced by the bytes
// examined.
int ac3_audio_info(const uint8_t* data, int* length, AudioInfo* info);

// Name of a langcod value; null for unnamed codes and codes outside 0-127.
const char* ac3_language_name(int code);

// Index of bps in the nominal bit-rate table; 11 (224000) when absent.
int ac3_bit_rate_index(int bps);

// AC-3 audio descriptor (tag 0x81) of a program map table.
class AC3Descriptor {
 public:
  AC3Descriptor() { clear(); }

  void clear();
  // Replace the owned copies; a null pointer or count < 1 leaves them empty.
  // Return the count kept.
  int set_text(const uint8_t* bytes, int count);
  int set_additional_info(const uint8_t* bytes, int count);

  // Bytes consumed (a leading registration descriptor 05 04 .. included),
  // 0 on failure.
  int decode(const uint8_t* bytes, int size);
  // Writes the descriptor of a valid frame header; returns 8 or 9 bytes, 0
  // when the header is not valid or size is too small.
  [[nodiscard]] int encode(uint8_t* buffer, const AC3FrmHdr& header, int size = 9);

  int32_t descriptor_tag;
  int32_t descriptor_length;
  int32_t sample_rate_code;
  int32_t bsid;
  int32_t bit_rate_code;
  int32_t surround_mode;
  int32_t bsmod;
  int32_t num_channels;
  int32_t full_svc;
  int32_t langcod;
  int32_t langcod2;
  int32_t mainid;
  int32_t mainid_rest;  // the 5 bits after mainid (priority and reserved)
  int32_t asvcflags;
  int32_t textlen;
  int32_t text_code;
  std::vector<uint8_t> text;
  std::vector<uint8_t> additional_info;
  int32_t valid;
};
