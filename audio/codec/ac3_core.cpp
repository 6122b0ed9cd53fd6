// Command entry, bit stream information and the per-block driver with its
// concealment. The signal path of one block is in ac3_block.cpp.
#include "audio/codec/ac3_core.h"

#include <cstring>
#include <new>

#include "audio/codec/ac3_block.h"
#include "audio/codec/ac3_core_state.h"
#include "foundation/crc16.h"
#include "foundation/trace.h"

namespace {

constexpr int kFullChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};

uint32_t result_word(int value) { return static_cast<uint32_t>(value & 0xFFFF) << 16 | kAC3CoreVersion; }

// Syncinfo and bit stream information at the reader's position (the frame
// start). 0, or 1 no sync, 4 bsid, 2 fscod, 3 frmsizecod.
int bsi_d(ac3_dec_state* s) {
  ac3::BitReader& br = s->br;
  AC3Bsi& b = s->bsi;
  const int r = ac3_read_bsi(b, [&br](int n) { return br.get(n); });
  s->annex_d = b.bsid == 6 && b.xbsi1e ? 1 : 0;
  if (r) return r;
  if (b.addbsie) {
    trace("bsi_d: additional bsi being skipped");
    br.skip((b.addbsil + 1u) * 8u);
  }
  s->reduced_rate = b.bsid == 9 ? 1 : b.bsid == 10 ? 2 : 0;
  s->karaoke = b.bsmod == 7 && b.acmod >= 2;
  s->nfchans = kFullChannels[b.acmod];
  s->nchans = s->nfchans + b.lfeon;
  s->audio_start = br.pos;
  return 0;
}

void fill_frame_info(ac3_dec_state* s) {
  const AC3Bsi& b = s->bsi;
  ac3_dec_frame_info& f = s->info;
  std::memset(&f, 0, sizeof f);
  f.count = 10;
  f.word[0] = static_cast<uint16_t>(b.fscod << 14 | b.frmsizecod << 8 | s->reduced_rate << 4 | b.lfeon << 3 | b.acmod);
  const int words = b.get_frame_size() / 2;
  f.word[1] = static_cast<uint16_t>(words);
  f.word[2] = static_cast<uint16_t>(words / 8 + words / 2 - 1);
  f.word[3] = static_cast<uint16_t>(b.bsid << 11 | b.bsmod << 8 | b.cmixlev << 6 | b.surmixlev << 4 | b.dsurmod << 2 |
                                    b.copyrightb << 1 | b.origbs);
  f.word[4] = static_cast<uint16_t>(b.dialnorm << 11 | b.compre << 10 | b.lfeon << 9 | b.langcode << 8 | b.compr);
  f.word[5] = static_cast<uint16_t>(b.dialnorm2 << 11 | b.compr2e << 10 | b.langcod2e << 8 | b.compr2);
  f.word[6] = static_cast<uint16_t>(b.langcod << 8 | b.langcod2);
  f.word[7] = static_cast<uint16_t>(b.audprodie << 15 | b.mixlevel << 10 | b.roomtyp << 8 | b.audprodi2e << 7 |
                                    b.mixlevel2 << 2 | b.roomtyp2);
  f.word[8] = b.timecod1;
  f.word[9] = b.timecod2;
}

int sync_bsi(ac3_dec_state* s, const ac3_dec_params* p) {
  s->br.start(p->words, p->bit_pos, 10 * 16);  // the caller guarantees ten words at least
  const int r = bsi_d(s);
  if (r == 0) {
    fill_frame_info(s);
    s->frame_bits = static_cast<uint32_t>(s->info.word[1]) * 16u;
  }
  return r;
}

void setup_block(ac3_dec_state* s, const ac3_dec_params* p) {
  if (!s->started) {
    s->repeat_count = 0;
    s->dither = 1;
    s->prev_output_mode = s->prev_output_lfe = -1;
    s->started = true;
  }
  for (int i = 0; i < 6; ++i) {
    s->out[i].ptr = p->out ? p->out[i] : nullptr;
    s->out[i].stride = p->stride ? p->stride[i] : 1;
    if (p->spare) std::memcpy(s->spare[i], p->spare + 6 * i, sizeof s->spare[i]);
  }
  s->block = p->block;
  s->output_mode = p->modes & 7;
  s->output_lfe = (p->modes >> 3) & 1;
  s->dual_mono = (p->modes >> 8) & 3;
  s->stereo_mode = (p->modes >> 10) & 3;
  s->compression = (p->modes >> 12) & 3;
  s->cut_scale = p->cut_scale;
  s->boost_scale = p->boost_scale;
  s->pcm_scale = p->pcm_scale;
  s->repeat_limit = p->repeat_limit;
  s->user_downmix = p->downmix;
  s->karaoke_table = p->karaoke;
  s->nout = kFullChannels[s->output_mode] + s->output_lfe;
  if (s->output_mode != s->prev_output_mode || s->output_lfe != s->prev_output_lfe) {
    std::memset(s->delay, 0, sizeof s->delay);
    s->prev_output_mode = s->output_mode;
    s->prev_output_lfe = s->output_lfe;
  }

  if (s->block == 0) s->status = AC3_BLOCK_OK;
  if (s->status == AC3_BLOCK_OK) {
    if (s->error_input >= 1) {
      s->status = AC3_BLOCK_REPEAT;
    } else {
      s->repeat_count = 0;
      if (s->error_input < 0) s->status = AC3_BLOCK_MUTE;
    }
  }
  if (s->status == AC3_BLOCK_REPEAT && s->repeat_limit != 0) {
    if (s->repeat_count >= s->repeat_limit)
      s->status = AC3_BLOCK_MUTE;
    else
      ++s->repeat_count;
  }
}

// A block found damaged while decoding: repeat it like a CRC failure would,
// within the repeat limit.
void conceal(ac3_dec_state* s) {
  s->status = AC3_BLOCK_REPEAT;
  if (s->repeat_limit != 0) {
    if (s->repeat_count >= s->repeat_limit)
      s->status = AC3_BLOCK_MUTE;
    else
      ++s->repeat_count;
  }
}

int decode_block(ac3_dec_state* s, const ac3_dec_params* p) {
  setup_block(s, p);
  if (s->status == AC3_BLOCK_OK && s->block == 0) {
    s->br.start(p->words, 0, s->frame_bits ? s->frame_bits : 160);
    if (bsi_d(s) != 0 && s->bsi.bsid < 11) {
      s->status = AC3_BLOCK_MUTE;
    } else {
      fill_frame_info(s);
      s->frame_bits = static_cast<uint32_t>(s->info.word[1]) * 16u;
      s->br.limit = s->frame_bits;
      if (s->br.overrun || s->br.pos > s->frame_bits) s->status = AC3_BLOCK_MUTE;
      ac3::reset_frame_side_info(s);
      if (s->bsi.bsid >= 11)
        s->status = AC3_BLOCK_BAD_BSID;
      else if (s->nfchans > 5 || s->nchans >= 7)
        s->status = AC3_BLOCK_TOO_MANY_CHANNELS;
    }
  }
  if (s->status == AC3_BLOCK_OK) {
    s->effective_mode = s->output_mode;
    if (s->output_mode == 2) {
      switch (s->stereo_mode) {
        case 0:
          s->effective_mode = (s->annex_d && s->bsi.dmixmod == 2) ? 2 : 0;
          break;
        case 2:
          break;
        default:
          s->effective_mode = 0;
      }
    }
    if (s->block < 6) s->block_start[s->block] = s->br.pos;
    if (ac3::parse_side_info(s) != 0) {
      conceal(s);
    } else if (s->block == 5 && s->br.pos < s->frame_bits * 5 / 8) {
      trace("ac3_dec: end of block 5 exceeds 3/8 of a frame");
    }
  }
  if (s->status == AC3_BLOCK_OK) {
    if (ac3::decode_channels(s) != 0) {
      conceal(s);
    } else if (s->block == 1 && s->br.pos > (s->frame_bits / 16) * 5 / 8 * 16) {
      trace("ac3_dec: block 0 & 1 exceed 5/8 of a frame");
    }
  }
  if (s->status == AC3_BLOCK_REPEAT) {
    trace("ac3_dec: repeating previous block");
    if (!s->have_good) s->status = AC3_BLOCK_MUTE;
  } else if (s->status != AC3_BLOCK_OK) {
    trace("ac3_dec: muting");
  }
  ac3::synthesize(s);
  return s->status;
}

}  // namespace

uint16_t ac3_dec_crc(uint16_t crc, const uint16_t* words, int count) {
  uint16_t r = crc;
  for (int i = 0; i < count; ++i) r = static_cast<uint16_t>(crc16_8005_word(r, 0) ^ words[i]);
  return r;
}

ac3_dec_state* ac3_dec_create() {
  auto* s = new (std::nothrow) ac3_dec_state();
  if (s) ac3_dec_init(s);
  return s;
}

void ac3_dec_destroy(ac3_dec_state* state) { delete state; }

void ac3_dec_init(ac3_dec_state* s) {
  s->bsi.reset();
  std::memset(&s->info, 0, sizeof s->info);
  ac3_dec_clear_state(s);
}

void ac3_dec_reset(ac3_dec_state* s) {
  ac3_dec_clear_state(s);
  s->bsi.reset();
}

void ac3_dec_clear_state(ac3_dec_state* s) {
  s->side = ac3::SideInfo();
  std::memset(s->exp, 0, sizeof s->exp);
  std::memset(s->bap, 0, sizeof s->bap);
  std::memset(s->coef, 0, sizeof s->coef);
  std::memset(s->coef_blksw, 0, sizeof s->coef_blksw);
  std::memset(s->gain, 0, sizeof s->gain);
  std::memset(s->coef_chans, 0, sizeof s->coef_chans);
  std::memset(s->mix, 0, sizeof s->mix);
  std::memset(s->acc, 0, sizeof s->acc);
  std::memset(s->delay, 0, sizeof s->delay);
  s->have_good = false;
  s->cur = 0;
  s->br = ac3::BitReader();
  s->repeat_count = 0;
  s->status = 0;
  s->error_input = 0;
}

void ac3_dec_command(ac3_dec_state* s, ac3_dec_result* result, int32_t command_word, const ac3_dec_params* p) {
  const int16_t command = static_cast<int16_t>(command_word & 0xFFFF);
  const int16_t argument = static_cast<int16_t>(static_cast<uint32_t>(command_word) >> 16);
  ac3_dec_result r{0xFFFFFFFFu, nullptr};
  if (!s || !result) return;
  switch (command) {
    case AC3_CMD_RESET:
      s->started = false;
      r.word0 = result_word(0);
      break;
    case AC3_CMD_SYNC:
      if (p && p->words) {
        r.word0 = result_word(sync_bsi(s, p));
        r.word1 = &s->info;
      }
      break;
    case AC3_CMD_CRC:
      if (p && p->words) r.word0 = result_word(ac3_dec_crc(static_cast<uint16_t>(argument), p->words, p->word_count));
      break;
    case AC3_CMD_BLOCK:
      if (p && p->words) {
        s->error_input = argument;
        r.word0 = result_word(decode_block(s, p));
      }
      break;
    default:
      break;
  }
  *result = r;
}

const AC3Bsi& ac3_dec_bsi(const ac3_dec_state* s) { return s->bsi; }

uint32_t ac3_dec_audio_start(const ac3_dec_state* s) { return s->audio_start; }
uint32_t ac3_dec_block_start(const ac3_dec_state* s, int block) {
  return block >= 0 && block < 6 ? s->block_start[block] : 0;
}
