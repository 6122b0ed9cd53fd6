#include "formats/qt_atoms.h"

#include <cstring>

#include "foundation/trace.h"

uint32_t qt_get32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
uint16_t qt_get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

namespace {

// Bound of sample counts and offsets: damaged tables saturate here
// instead of overflowing.
constexpr int64_t kMaxSamples = int64_t{1} << 56;

inline int64_t saturate(__int128 v) { return v > kMaxSamples ? kMaxSamples : (v < 0 ? 0 : static_cast<int64_t>(v)); }

// Four characters of a type code for messages.
struct TypeName {
  explicit TypeName(uint32_t t) {
    for (int i = 0; i < 4; ++i) {
      const char c = static_cast<char>(t >> (24 - 8 * i));
      s[i] = c >= 32 && c < 127 ? c : '?';
    }
    s[4] = 0;
  }
  char s[5];
};

// Children of a container, within the container's own size: a size field
// of 0 runs to the container's end; one below 8 or past the end ends the
// walk, so that no child is ever read outside its parent.
template <class F>
void walk_children(const uint8_t* b, uint32_t container_size, const char* cls, F&& visit) {
  uint32_t pos = 8;
  while (container_size >= pos + 8) {
    uint32_t sz = qt_get32(b + pos);
    const uint32_t type = qt_get32(b + pos + 4);
    if (sz == 0) sz = container_size - pos;
    if (sz < 8 || sz > container_size - pos) {
      trace("%s::decode (ERROR): size=%d\n", cls, static_cast<int>(sz));
      break;
    }
    visit(type, b + pos, sz);
    pos += sz;
  }
}

// The 24-bit flags after a full atom's version byte at p.
inline uint32_t full_flags(const uint8_t* p) { return qt_get32(p) & 0xFFFFFF; }

// Version, flags and the two time stamps that open a movie, track or media
// header.
template <class A>
void read_stamps(A& a, const uint8_t* b) {
  a.version = b[8];
  a.flags = full_flags(b + 8);
  a.creation_time = qt_get32(b + 12);
  a.modification_time = qt_get32(b + 16);
}

// Entry count of a table atom: the count field ends its header and
// entry-byte entries fill the rest of the atom. False when the two
// disagree (reported under cls unless it is null).
bool table_count(const uint8_t* b, uint32_t atom_size, uint32_t header, uint32_t entry, const char* cls,
                 uint32_t* count) {
  *count = qt_get32(b + header - 4);
  const uint32_t fits = (atom_size - header) / entry;
  if (*count == fits) return true;
  if (cls)
    trace("%s::decode (ERROR): number_of_entries=%d != %d=(atom-size-based)\n", cls, static_cast<int>(*count),
          static_cast<int>(fits));
  return false;
}

// A table of 32-bit entries after a 16-byte header: atom_size, or 0 with
// the table emptied when its count is wrong.
uint32_t read_u32_table(const uint8_t* b, uint32_t atom_size, const char* cls, std::vector<uint32_t>& entries) {
  uint32_t count;
  if (!table_count(b, atom_size, 16, 4, cls, &count)) {
    entries.clear();
    return 0;
  }
  entries.resize(count);
  for (uint32_t i = 0; i < count; ++i) entries[i] = qt_get32(b + 16 + 4 * i);
  return atom_size;
}

// A child atom decoded into slot; slot is left as it was on failure.
template <class T>
bool take(std::unique_ptr<T>& slot, const uint8_t* c, uint32_t n) {
  auto atom = std::make_unique<T>();
  if (!atom->decode(c, n)) return false;
  slot = std::move(atom);
  return true;
}

}  // namespace

uint32_t QT_Atom::check_container(const uint8_t* b, size_t length, const char* cls) {
  if (!b || length < 8) {
    trace("%s::decode (ERROR): not enough data (%d < 8)\n", cls, static_cast<int>(length));
    return 0;
  }
  if (qt_get32(b + 4) != type) {
    trace("%s::decode (ERROR): no type string ('%s') found\n", cls, TypeName(type).s);
    return 0;
  }
  const uint32_t sz = qt_get32(b);
  if (sz < 8 || sz > length) {
    trace("%s::decode (ERROR): not enough data (%d < %d=atom size)\n", cls, static_cast<int>(length),
          static_cast<int>(sz));
    return 0;
  }
  atom_size = sz;
  return sz;
}

bool QT_Atom::check(const uint8_t* b, size_t length, const char* cls, uint32_t fixed, bool exact) {
  if (!b || length < 8) {
    trace("%s::decode (ERROR): not enough data (%d < %d=atom size)\n", cls, static_cast<int>(length), 8);
    return false;
  }
  if (qt_get32(b + 4) != type) {
    trace("%s::decode (ERROR): no type string ('%s') found\n", cls, TypeName(type).s);
    return false;
  }
  const uint32_t sz = qt_get32(b);
  if (exact ? sz != fixed : sz < fixed) {
    trace("%s::decode (ERROR): atom size %d != %d\n", cls, static_cast<int>(sz), static_cast<int>(fixed));
    return false;
  }
  if (length < sz) {
    trace("%s::decode (ERROR): not enough data (%d < %d=atom size)\n", cls, static_cast<int>(length),
          static_cast<int>(sz));
    return false;
  }
  atom_size = sz;
  return true;
}

uint32_t QT_Mvhd::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Mvhd", 108, true)) return 0;
  read_stamps(*this, b);
  time_scale = qt_get32(b + 20);
  duration = qt_get32(b + 24);
  preferred_rate = qt_get32(b + 28);
  preferred_volume = qt_get16(b + 32);
  for (int i = 0; i < 9; ++i) matrix[i] = qt_get32(b + 44 + 4 * i);
  preview_time = qt_get32(b + 80);
  preview_duration = qt_get32(b + 84);
  poster_time = qt_get32(b + 88);
  selection_time = qt_get32(b + 92);
  selection_duration = qt_get32(b + 96);
  current_time = qt_get32(b + 100);
  next_track_id = qt_get32(b + 104);
  return atom_size;
}

uint32_t QT_Tkhd::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Tkhd", 92, true)) return 0;
  read_stamps(*this, b);
  track_id = qt_get32(b + 20);
  duration = qt_get32(b + 28);
  layer = qt_get16(b + 40);
  alternate_group = qt_get16(b + 42);
  volume = qt_get16(b + 44);
  for (int i = 0; i < 9; ++i) matrix[i] = qt_get32(b + 48 + 4 * i);
  track_width = qt_get32(b + 84);
  track_height = qt_get32(b + 88);
  return atom_size;
}

uint32_t QT_Mdhd::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Mdhd", 32, true)) return 0;
  read_stamps(*this, b);
  time_scale = qt_get32(b + 20);
  duration = qt_get32(b + 24);
  language = qt_get16(b + 28);
  quality = qt_get16(b + 30);
  return atom_size;
}

uint32_t QT_Hdlr::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Hdlr", 32, false)) return 0;
  flags = full_flags(b + 8);
  component_type = qt_get32(b + 12);
  component_subtype = qt_get32(b + 16);
  manufacturer = qt_get32(b + 20);
  component_flags = qt_get32(b + 24);
  flags_mask = qt_get32(b + 28);
  name.assign(b + 32, b + atom_size);
  name.push_back(0);
  return atom_size;
}

uint32_t QT_Vmhd::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Vmhd", 20, true)) return 0;
  flags = full_flags(b + 8);
  graphics_mode = qt_get16(b + 12);
  for (int i = 0; i < 3; ++i) opcolor[i] = qt_get16(b + 14 + 2 * i);
  return atom_size;
}

uint32_t QT_Smhd::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Smhd", 16, true)) return 0;
  flags = full_flags(b + 8);
  balance = qt_get16(b + 12);
  return atom_size;
}

uint32_t QT_Stsd::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Stsd", 16, false)) return 0;
  const uint32_t count = qt_get32(b + 12);
  if (count >= 512) {
    trace("QT_Stsd::decode (ERROR): number_of_entries=%d (too large)\n", static_cast<int>(count));
    return 0;
  }
  entries.assign(count, QT_SampleDescription{});
  uint32_t pos = 16;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t left = atom_size - pos;
    if (left < 16) {
      trace("QT_Stsd::decode (ERROR): data errors\n");
      break;
    }
    const uint32_t sz = qt_get32(b + pos);
    if (sz < 16 || sz > left) {
      trace("QT_Stsd::decode (ERROR): data errors\n");
      break;
    }
    QT_SampleDescription& d = entries[i];
    d.size = sz;
    d.data_format = qt_get32(b + pos + 4);
    d.data_reference_index = qt_get16(b + pos + 14);
    d.data.assign(b + pos + 16, b + pos + sz);
    pos += sz;
  }
  return atom_size;
}

uint32_t QT_Stts::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Stts", 16, false)) return 0;
  uint32_t count;
  if (!table_count(b, atom_size, 16, 8, "QT_Stts", &count)) {
    entries.clear();
    return 0;
  }
  entries.resize(count);
  total_samples = 0;
  for (uint32_t i = 0; i < count; ++i) {
    entries[i] = {qt_get32(b + 16 + 8 * i), qt_get32(b + 20 + 8 * i)};
    total_samples += entries[i].count;
  }
  return atom_size;
}

uint32_t QT_Stss::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Stss", 16, false)) return 0;
  return read_u32_table(b, atom_size, "QT_Stss", entries);
}

uint32_t QT_Stsc::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Stsc", 16, false)) return 0;
  uint32_t count;
  if (!table_count(b, atom_size, 16, 12, "QT_Stsc", &count)) {
    entries.clear();
    return 0;
  }
  entries.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = b + 16 + 12 * i;
    const uint32_t first = qt_get32(e);
    entries[i] = {first > 0 ? first - 1 : 0, qt_get32(e + 4), qt_get32(e + 8), 0};
  }
  // Without entries, with an empty chunk run or with chunks out of order no
  // sample can be placed: the table is refused rather than divided by zero.
  bool ok = count > 0;
  for (uint32_t i = 0; ok && i < count; ++i)
    ok = entries[i].samples_per_chunk > 0 && (i == 0 || entries[i].first_chunk > entries[i - 1].first_chunk);
  if (!ok) {
    trace("QT_Stsc::decode (ERROR): %s\n", count ? "bad samples-per-chunk or chunk order" : "number-of-entries=0");
    entries.clear();
    return 0;
  }
  int64_t before = 0;
  for (uint32_t i = 0; i + 1 < count; ++i) {
    const __int128 run = static_cast<__int128>(entries[i].samples_per_chunk) *
                         (entries[i + 1].first_chunk - entries[i].first_chunk);
    before = static_cast<int64_t>(run + before > kMaxSamples ? kMaxSamples : run + before);
    entries[i].samples_before = before;
  }
  entries[count - 1].samples_before = count > 1 ? entries[count - 2].samples_before : 0;
  return atom_size;
}

int64_t QT_Stsc::get_chunk_number(int64_t n, int64_t* first) const {
  if (n < 0) {
    trace("QT_Stsc::get_chunk_number (ERROR): negative sample number = %lld\n", static_cast<long long>(n));
    n = 0;
  }
  if (entries.empty()) {
    trace("QT_Stsc::get_chunk_number (ERROR): number-of-entries=0\n");
    if (first) *first = 0;
    return -1;
  }
  size_t k = 0;
  while (k + 1 < entries.size() && n >= entries[k].samples_before) ++k;
  const int64_t base = k ? entries[k - 1].samples_before : 0;
  const Entry& e = entries[k];
  const int64_t chunk = (n - base) / e.samples_per_chunk + e.first_chunk;
  if (first) *first = (chunk - e.first_chunk) * e.samples_per_chunk + base;
  return chunk;
}

uint32_t QT_Stsz::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Stsz", 20, false)) return 0;
  sample_size = qt_get32(b + 12);
  sample_count = qt_get32(b + 16);
  entries.clear();
  if (sample_size != 0) {  // every sample has this size; no table follows
    total_size = saturate(static_cast<__int128>(sample_size) * sample_count);
    return atom_size;
  }
  if (!table_count(b, atom_size, 20, 4, "QT_Stsz", &sample_count)) {
    sample_count = 0;
    return 0;
  }
  entries.resize(sample_count);
  total_size = 0;
  for (uint32_t i = 0; i < sample_count; ++i) {
    entries[i] = qt_get32(b + 20 + 4 * i);
    total_size += entries[i];
  }
  return atom_size;
}

uint32_t QT_Stsz::get_sample_size(int64_t i) const {
  if (sample_size) return sample_size;
  if (entries.empty()) return 0;
  if (i < 0) return entries.front();
  if (i >= static_cast<int64_t>(entries.size())) return entries.back();
  return entries[static_cast<size_t>(i)];
}

uint32_t QT_Stco::decode(const uint8_t* b, size_t length) {
  if (!check(b, length, "QT_Stco", 16, false)) return 0;
  return read_u32_table(b, atom_size, "QT_Stco", entries);
}

uint32_t QT_Stco::get_chunk_offset(int64_t i) const {
  if (entries.empty()) return 0;
  if (i < 0) return entries.front();
  if (i >= static_cast<int64_t>(entries.size())) return entries.back();
  return entries[static_cast<size_t>(i)];
}

uint32_t QT_Stbl::decode(const uint8_t* b, size_t length) {
  const uint32_t sz = check_container(b, length, "QT_Stbl");
  if (!sz) return 0;
  walk_children(b, sz, "QT_Stbl", [&](uint32_t t, const uint8_t* c, uint32_t n) {
    if (t == qt_fourcc("stsd")) take(stsd, c, n);
    else if (t == qt_fourcc("stts")) take(stts, c, n);
    else if (t == qt_fourcc("stss")) take(stss, c, n);
    else if (t == qt_fourcc("stsc")) take(stsc, c, n);
    else if (t == qt_fourcc("stsz")) take(stsz, c, n);
    else if (t == qt_fourcc("stco")) take(stco, c, n);
  });
  return sz;
}

int64_t QT_Stbl::get_sample_offset(int64_t n, uint32_t* size) const {
  if (!stsc || !stsz || !stco || stsc->entries.empty()) {
    trace("QT_Stbl::get_sample_offset (ERROR): not enough information to answer the inquiry\n");
    if (size) *size = 0;
    return 0;
  }
  if (n < 0) n = 0;
  int64_t first = 0;
  const int64_t chunk = stsc->get_chunk_number(n, &first);
  __int128 offset = stco->get_chunk_offset(chunk);
  if (n > kMaxSamples) n = kMaxSamples;
  if (stsz->sample_size) {
    offset += static_cast<__int128>(n - first) * stsz->sample_size;
  } else {
    // Sizes beyond the table repeat its last entry.
    const int64_t table = static_cast<int64_t>(stsz->entries.size());
    const int64_t stop = n < table ? n : table;
    for (int64_t i = first; i < stop; ++i) offset += stsz->entries[static_cast<size_t>(i)];
    if (n > table && table > 0) offset += static_cast<__int128>(n - (first > table ? first : table)) * stsz->entries.back();
  }
  if (size) *size = stsz->get_sample_size(n);
  return saturate(offset);
}

uint32_t QT_Dinf::decode(const uint8_t* b, size_t length) {
  const uint32_t sz = check_container(b, length, "QT_Dinf");
  if (!sz) return 0;
  if (sz < 24 || qt_get32(b + 12) != qt_fourcc("dref")) {
    trace("QT_Dinf::decode (ERROR): no type string ('dref') found\n");
    return 0;
  }
  const uint32_t dref = qt_get32(b + 8);
  if (dref != sz - 8) {
    trace("QT_Dinf::decode (ERROR): 'dref' size=%d != %d ('dinf' size - 8)\n", static_cast<int>(dref),
          static_cast<int>(sz - 8));
    return 0;
  }
  version = b[16];
  flags = full_flags(b + 16);
  const uint32_t count = qt_get32(b + 20);
  if (count >= 128) {
    trace("QT_Dinf::decode (ERROR): number_of_entries=%d (too large)\n", static_cast<int>(count));
    return 0;
  }
  entries.assign(count, DataReference{});
  uint32_t pos = 24;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t left = sz - pos;
    const uint32_t esz = left >= 12 ? qt_get32(b + pos) : 0;
    if (left < 12 || esz < 12 || esz > left) {
      trace("QT_Dinf::DataReference::decode (ERROR): not enough data to decode (%d < %d)\n", static_cast<int>(left),
            static_cast<int>(esz < 12 ? 12 : esz));
      break;
    }
    DataReference& d = entries[i];
    d.size = esz;
    d.type = qt_get32(b + pos + 4);
    d.version = b[pos + 8];
    d.flags = full_flags(b + pos + 8);
    d.data.assign(b + pos + 12, b + pos + esz);
    pos += esz;
  }
  return sz;
}

uint32_t QT_Minf::decode(const uint8_t* b, size_t length) {
  const uint32_t sz = check_container(b, length, "QT_Minf");
  if (!sz) return 0;
  int headers = 0;
  walk_children(b, sz, "QT_Minf", [&](uint32_t t, const uint8_t* c, uint32_t n) {
    if (t == qt_fourcc("hdlr")) headers += take(hdlr, c, n);
    else if (t == qt_fourcc("vmhd")) headers += take(vmhd, c, n);
    else if (t == qt_fourcc("smhd")) headers += take(smhd, c, n);
    else if (t == qt_fourcc("dinf")) take(dinf, c, n);
    else if (t == qt_fourcc("stbl")) take(stbl, c, n);
  });
  if (headers < 2) {
    trace("QT_Minf::decode (ERROR): required header atom missing (%d)\n", 2 - headers);
    return 0;
  }
  return sz;
}

uint32_t QT_Mdia::decode(const uint8_t* b, size_t length) {
  const uint32_t sz = check_container(b, length, "QT_Mdia");
  if (!sz) return 0;
  bool have_mdhd = false;
  walk_children(b, sz, "QT_Mdia", [&](uint32_t t, const uint8_t* c, uint32_t n) {
    if (t == qt_fourcc("mdhd")) {
      have_mdhd = mdhd.decode(c, n) != 0;
    } else if (t == qt_fourcc("hdlr")) {
      take(hdlr, c, n);
    } else if (t == qt_fourcc("minf")) {
      take(minf, c, n);
    }
  });
  if (!have_mdhd) {
    trace("QT_Mdia::decode (ERROR): no Media Header Atom found\n");
    return 0;
  }
  return sz;
}

uint32_t QT_Trak::decode(const uint8_t* b, size_t length) {
  const uint32_t sz = check_container(b, length, "QT_Trak");
  if (!sz) return 0;
  int found = 0;
  walk_children(b, sz, "QT_Trak", [&](uint32_t t, const uint8_t* c, uint32_t n) {
    if (t == qt_fourcc("tkhd")) found += tkhd.decode(c, n) != 0;
    else if (t == qt_fourcc("mdia")) found += mdia.decode(c, n) != 0;
  });
  if (found < 2) {
    trace("QT_Trak::decode (ERROR): required header atom missing (%d)\n", 2 - found);
    return 0;
  }
  return sz;
}

uint32_t QT_Moov::decode(const uint8_t* b, size_t length) {
  const uint32_t sz = check_container(b, length, "QT_Moov");
  if (!sz) return 0;
  int tracks = 0;
  bool have_mvhd = false;
  walk_children(b, sz, "QT_Moov", [&](uint32_t t, const uint8_t*, uint32_t) {
    tracks += t == qt_fourcc("trak");
    have_mvhd = have_mvhd || t == qt_fourcc("mvhd");
  });
  if (!have_mvhd) {
    trace("QT_Moov::decode (ERROR): no Movie Header Atom found\n");
    return 0;
  }
  if (!tracks) trace("QT_Moov::decode (): no Track atom found\n");
  traks.clear();
  bool mvhd_ok = false;
  walk_children(b, sz, "QT_Moov", [&](uint32_t t, const uint8_t* c, uint32_t n) {
    if (t == qt_fourcc("mvhd")) {
      mvhd_ok = mvhd.decode(c, n) != 0 || mvhd_ok;
    } else if (t == qt_fourcc("trak")) {
      std::unique_ptr<QT_Trak> k;
      if (take(k, c, n)) traks.push_back(std::move(k));
    }
  });
  if (!mvhd_ok) return 0;
  return sz;
}

QT_Mdia* QT_Moov::find_track(uint32_t kind) {
  for (auto& t : traks)
    if (t->mdia.minf && t->mdia.minf->kind() == kind) return &t->mdia;
  return nullptr;
}

uint32_t QT_Moov::get_format(uint32_t kind) {
  QT_Mdia* m = find_track(kind);
  if (!m || !m->minf || !m->minf->stbl) return 0;
  return m->minf->stbl->get_first_format();
}

size_t qt_find_atom(const uint8_t* bytes, size_t length, uint32_t* type) {
  static const uint32_t known[] = {qt_fourcc("mdat"), qt_fourcc("moov"), qt_fourcc("mvhd"), qt_fourcc("trak"),
                                   qt_fourcc("tkhd"), qt_fourcc("mdia"), qt_fourcc("mdhd")};
  if (type) *type = 0;
  if (!bytes || length < 4) return 0;
  for (size_t p = 0; p + 4 <= length; ++p) {
    const uint32_t v = qt_get32(bytes + p);
    for (uint32_t k : known)
      if (v == k) {
        if (type) *type = v;
        return p >= 4 ? p - 4 : p;
      }
  }
  return length - 3;
}
