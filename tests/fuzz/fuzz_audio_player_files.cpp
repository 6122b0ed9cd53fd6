// The audio window's readers over arbitrary text ("Sorvane.cfg" and play
// lists, ".eqz", "equalize.cfg", ".lyr"): whatever they keep is in range.
#include <cstdint>
#include <string>

#include "app/audio/equalizer.h"
#include "app/audio/lyrics.h"
#include "app/audio/player_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: {
      PlayerConfig c = parse_player_config(text);
      const TrackListRead r = parse_track_list(text, nullptr);
      settle_player_config(&c, int(r.entries.size()));
      if (c.position < 0 || c.position > 1000 || c.mark_start > c.mark_end) __builtin_trap();
      if (c.volume > 80 || c.loop < 0 || c.loop > 3) __builtin_trap();
      for (const AudioTrackEntry& e : r.entries)
        if (e.duration < 0 || (e.play != 0 && e.play != 1) || e.path.empty()) __builtin_trap();
      if (r.equalizer_read)
        for (int g : r.equalizer.gains)
          if (g < 0 || g > 24) __builtin_trap();
      break;
    }
    case 1: {
      GainSet g;
      g.fill(12);
      int bands = 0;
      parse_filter_file(text, &g, &bands);
      for (int v : g)
        if (v < 0 || v > 24) __builtin_trap();
      if (bands < 0 || bands > 32) __builtin_trap();
      break;
    }
    case 2: {
      const FilterList l = parse_filter_list(text);
      for (const std::string& p : l.paths)
        if (p.size() < 2) __builtin_trap();
      break;
    }
    default: {
      LyricsList l;
      l.read_text(text);
      for (const LyricLine& line : l.lines())
        if (line.time < 0 || line.text.empty()) __builtin_trap();
      l.seek(int(size));
      parse_lyric_time(text.substr(0, 40), 3, nullptr);
      break;
    }
  }
  return 0;
}
