// QuickTime movie header atoms: the 'moov' atom and what it holds, parsed
// from memory into a tree (read only), enough to find where each sample of
// the video track lies in the file. All integers are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

constexpr uint32_t qt_fourcc(const char (&s)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8) | static_cast<uint8_t>(s[3]);
}
uint32_t qt_get32(const uint8_t* p);
uint16_t qt_get16(const uint8_t* p);

// Track kinds.
constexpr uint32_t kQtVideoTrack = 0x56494444;  // "VIDD"
constexpr uint32_t kQtSoundTrack = 0x41554444;  // "AUDD"

class QT_Atom {
 public:
  QT_Atom(uint32_t atom_type, uint32_t fixed_size) : type(atom_type), atom_size(fixed_size) {}
  virtual ~QT_Atom() = default;
  // Parses the atom at bytes (length bytes from there to the end of what is
  // held); the atom size used, 0 on failure.
  virtual uint32_t decode(const uint8_t* bytes, size_t length) = 0;
  virtual uint32_t size() const { return 8; }

  uint32_t type;
  uint32_t atom_size;

 protected:
  // Type, size and availability checks shared by every decode. exact: the
  // size must equal fixed (else at least fixed).
  bool check(const uint8_t* bytes, size_t length, const char* cls, uint32_t fixed, bool exact);
  // Type and size checks of a container; sets atom_size and returns it, 0
  // on failure.
  uint32_t check_container(const uint8_t* bytes, size_t length, const char* cls);
};

// An atom of one type and a constant size.
template <uint32_t Type, uint32_t Size>
class QT_FixedAtom : public QT_Atom {
 public:
  QT_FixedAtom() : QT_Atom(Type, Size) {}
  uint32_t size() const override { return Size; }
};

class QT_Mvhd : public QT_FixedAtom<qt_fourcc("mvhd"), 108> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint8_t version = 0;
  uint32_t flags = 0, creation_time = 0, modification_time = 0, time_scale = 0, duration = 0, preferred_rate = 0;
  uint16_t preferred_volume = 0;
  uint32_t matrix[9] = {};
  uint32_t preview_time = 0, preview_duration = 0, poster_time = 0, selection_time = 0, selection_duration = 0,
           current_time = 0, next_track_id = 0;
};

class QT_Tkhd : public QT_FixedAtom<qt_fourcc("tkhd"), 92> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint8_t version = 0;
  uint32_t flags = 0, creation_time = 0, modification_time = 0, track_id = 0, duration = 0;
  uint16_t layer = 0, alternate_group = 0, volume = 0;
  uint32_t matrix[9] = {};
  uint32_t track_width = 0, track_height = 0;  // 16.16 fixed point
};

class QT_Mdhd : public QT_FixedAtom<qt_fourcc("mdhd"), 32> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint8_t version = 0;
  uint32_t flags = 0, creation_time = 0, modification_time = 0, time_scale = 0, duration = 0;
  uint16_t language = 0, quality = 0;
};

class QT_Hdlr : public QT_Atom {
 public:
  QT_Hdlr() : QT_Atom(qt_fourcc("hdlr"), 32) {}
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint32_t size() const override { return atom_size; }
  uint32_t flags = 0, component_type = 0, component_subtype = 0, manufacturer = 0, component_flags = 0,
           flags_mask = 0;
  std::vector<uint8_t> name;  // with a zero byte added
};

class QT_Vmhd : public QT_FixedAtom<qt_fourcc("vmhd"), 20> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint32_t flags = 0;
  uint16_t graphics_mode = 0, opcolor[3] = {};
};

class QT_Smhd : public QT_FixedAtom<qt_fourcc("smhd"), 16> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint32_t flags = 0;
  uint16_t balance = 0;
};

struct QT_SampleDescription {
  uint32_t size = 0;
  uint32_t data_format = 0;
  uint16_t data_reference_index = 0;
  std::vector<uint8_t> data;
};

class QT_Stsd : public QT_FixedAtom<qt_fourcc("stsd"), 16> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  std::vector<QT_SampleDescription> entries;
};

class QT_Stts : public QT_FixedAtom<qt_fourcc("stts"), 16> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  struct Entry {
    uint32_t count, duration;
  };
  std::vector<Entry> entries;
  int64_t total_samples = 0;
};

class QT_Stss : public QT_FixedAtom<qt_fourcc("stss"), 16> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  std::vector<uint32_t> entries;
};

class QT_Stsc : public QT_FixedAtom<qt_fourcc("stsc"), 16> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  // Zero-based chunk holding sample n; *first gets that chunk's first
  // sample. -1 when the table is empty.
  int64_t get_chunk_number(int64_t n, int64_t* first) const;
  struct Entry {
    uint32_t first_chunk;        // zero-based
    uint32_t samples_per_chunk;
    uint32_t description_id;
    int64_t samples_before;      // samples before the next entry's first chunk
  };
  std::vector<Entry> entries;
};

class QT_Stsz : public QT_FixedAtom<qt_fourcc("stsz"), 20> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  // Entry i (first for negative, last beyond the table); the constant size
  // when every sample has it; 0 without a table.
  uint32_t get_sample_size(int64_t i) const;
  uint32_t sample_size = 0;
  uint32_t sample_count = 0;
  std::vector<uint32_t> entries;
  int64_t total_size = 0;
};

class QT_Stco : public QT_FixedAtom<qt_fourcc("stco"), 16> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint32_t get_chunk_offset(int64_t i) const;
  std::vector<uint32_t> entries;
};

class QT_Stbl : public QT_Atom {
 public:
  QT_Stbl() : QT_Atom(qt_fourcc("stbl"), 8) {}
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  // File offset of sample n, its size in *size; 0 and size 0 when the
  // tables needed are missing.
  int64_t get_sample_offset(int64_t n, uint32_t* size) const;
  int64_t get_sample_count() const { return stts ? stts->total_samples : 0; }
  int64_t get_total_size() const { return stsz ? stsz->total_size : 0; }
  uint32_t get_first_duration() const { return stts && !stts->entries.empty() ? stts->entries[0].duration : 1; }
  uint32_t get_first_format() const {
    return stsd && !stsd->entries.empty() ? stsd->entries[0].data_format : 0;
  }
  std::unique_ptr<QT_Stsd> stsd;
  std::unique_ptr<QT_Stts> stts;
  std::unique_ptr<QT_Stss> stss;
  std::unique_ptr<QT_Stsc> stsc;
  std::unique_ptr<QT_Stsz> stsz;
  std::unique_ptr<QT_Stco> stco;
};

class QT_Dinf : public QT_FixedAtom<qt_fourcc("dinf"), 24> {
 public:
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  struct DataReference {
    uint32_t size = 0, type = 0, flags = 0;
    uint8_t version = 0;
    std::vector<uint8_t> data;
  };
  uint8_t version = 0;
  uint32_t flags = 0;
  std::vector<DataReference> entries;
};

class QT_Minf : public QT_Atom {
 public:
  QT_Minf() : QT_Atom(qt_fourcc("minf"), 8) {}
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint32_t size() const override { return 24 + (hdlr ? hdlr->size() : 0); }
  // kQtVideoTrack, kQtSoundTrack or 0.
  uint32_t kind() const { return vmhd ? kQtVideoTrack : (smhd ? kQtSoundTrack : 0); }
  std::unique_ptr<QT_Vmhd> vmhd;
  std::unique_ptr<QT_Smhd> smhd;
  std::unique_ptr<QT_Hdlr> hdlr;
  std::unique_ptr<QT_Dinf> dinf;
  std::unique_ptr<QT_Stbl> stbl;
};

class QT_Mdia : public QT_Atom {
 public:
  QT_Mdia() : QT_Atom(qt_fourcc("mdia"), 8) {}
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint32_t size() const override { return 8 + mdhd.size(); }
  QT_Mdhd mdhd;
  std::unique_ptr<QT_Hdlr> hdlr;
  std::unique_ptr<QT_Minf> minf;
};

class QT_Trak : public QT_Atom {
 public:
  QT_Trak() : QT_Atom(qt_fourcc("trak"), 8) {}
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  uint32_t size() const override { return 8 + tkhd.size() + mdia.size(); }
  QT_Tkhd tkhd;
  QT_Mdia mdia;
};

class QT_Moov : public QT_Atom {
 public:
  explicit QT_Moov(uint32_t size = 8) : QT_Atom(qt_fourcc("moov"), size) {}
  uint32_t decode(const uint8_t* bytes, size_t length) override;
  // The media of the first track of that kind, or null.
  QT_Mdia* find_track(uint32_t kind);
  // Data format of that track's first sample description; 0 when none.
  uint32_t get_format(uint32_t kind);
  QT_Mvhd mvhd;
  std::vector<std::unique_ptr<QT_Trak>> traks;
};

// Offset of the first atom of a known type ('mdat', 'moov', 'mvhd',
// 'trak', 'tkhd', 'mdia', 'mdhd') found by scanning byte by byte, its type
// in *type; when none, *type is 0 and the result the positions scanned.
size_t qt_find_atom(const uint8_t* bytes, size_t length, uint32_t* type);
