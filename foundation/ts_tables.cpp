#include "foundation/ts_tables.h"

#include <algorithm>
#include <cstring>

#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"

namespace {

// Wraps a section (pointer_field 0) into one packet of the given PID,
// payload only, continuity_counter 0, padded with 0xFF.
void build_packet(uint8_t* out, int pid, const uint8_t* section, int bytes) {
  out[0] = 0x47;
  out[1] = static_cast<uint8_t>(0x40 | ((pid >> 8) & 0x1F));
  out[2] = static_cast<uint8_t>(pid & 0xFF);
  out[3] = 0x10;
  out[4] = 0x00;
  std::memcpy(out + 5, section, static_cast<size_t>(bytes));
  std::memset(out + 5 + bytes, 0xFF, static_cast<size_t>(188 - 5 - bytes));
}

uint32_t read_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// The syntax bits after table_id: faults are counted and traced, not
// refused.
void check_syntax_bits(const uint8_t* s, const char* table, int32_t& errors) {
  if (!(s[1] & 0x80)) {
    ++errors;
    trace("%s: section_syntax_indicator is 0\n", table);
  }
  if ((s[1] & 0x70) != 0x30) {
    ++errors;
    trace("%s: reserved bits after section_syntax_indicator not '011'\n", table);
  }
}

void check_version_bits(const uint8_t* s, const char* table, int32_t& errors) {
  if ((s[5] & 0xC0) != 0xC0) {
    ++errors;
    trace("%s: reserved bits before version_number not '11'\n", table);
  }
}

// Fields every long section carries after its table_id_extension.
template <class Table>
void read_version_fields(Table& t, const uint8_t* s) {
  t.version_number = (s[5] >> 1) & 0x1F;
  t.current_next_indicator = s[5] & 1;
  t.section_number = s[6];
  t.last_section_number = s[7];
}

// The copy shared by both tables: section framing, CRC and the rebuilt
// packet (kept only when whole).
template <class Table>
void copy_section(Table& t, const Table& o) {
  t.section_length = o.section_length;
  t.version_number = o.version_number;
  t.current_next_indicator = o.current_next_indicator;
  t.section_number = o.section_number;
  t.last_section_number = o.last_section_number;
  t.CRC_32 = o.CRC_32;
  t.stored_packet_length = 0;
  if (o.stored_packet_length == 188) {
    std::memcpy(t.stored_packet, o.stored_packet, 188);
    t.stored_packet_length = 188;
  }
}

}  // namespace

// ---- PAT -------------------------------------------------------------------

void PAT::clear() {
  section_length = transport_stream_id = version_number = current_next_indicator = 0;
  section_number = last_section_number = program_count = network_pid_count = 0;
  error_count = 0;
  CRC_32 = 0;
  stored_packet_length = 0;
  program_numbers.clear();
  pmt_pids.clear();
  network_pids.clear();
}

void PAT::cleanup() {
  clear();
  program_numbers.shrink_to_fit();
  pmt_pids.shrink_to_fit();
  network_pids.shrink_to_fit();
}

PAT& PAT::operator=(const PAT& o) {
  if (this == &o) return *this;
  copy_section(*this, o);
  transport_stream_id = o.transport_stream_id;
  program_count = 0;
  program_numbers.clear();
  pmt_pids.clear();
  if (o.program_count >= 1 && !o.program_numbers.empty() && !o.pmt_pids.empty()) {
    program_count = o.program_count;
    program_numbers = o.program_numbers;
    pmt_pids = o.pmt_pids;
  }
  network_pid_count = o.network_pid_count;
  network_pids = o.network_pids;
  error_count = o.error_count;
  return *this;
}

int PAT::decode(const uint8_t* s, int length) {
  stored_packet_length = 0;
  if (!s || length < 3) {
    trace("PAT: section too short (%d bytes)\n", length);
    return 0;
  }
  if (s[0] != 0) {
    trace("PAT: table_id %d is not 0\n", s[0]);
    return 0;
  }
  error_count = 0;
  check_syntax_bits(s, "PAT", error_count);
  if (s[1] & 0x0C) {
    ++error_count;
    trace("PAT: section_length top bits not zero\n");
  }
  section_length = ((s[1] & 0x03) << 8) | s[2];
  const int entries = (section_length - 9) / 4;
  if (section_length > length - 3 || entries < 1) {
    ++error_count;
    trace("PAT: section_length %d does not fit %d bytes or lists no entry\n", section_length, length);
    return 0;
  }
  transport_stream_id = (s[3] << 8) | s[4];
  check_version_bits(s, "PAT", error_count);
  read_version_fields(*this, s);

  program_numbers.clear();
  pmt_pids.clear();
  network_pids.clear();
  program_count = network_pid_count = 0;
  program_numbers.reserve(static_cast<size_t>(entries));
  pmt_pids.reserve(static_cast<size_t>(entries));
  const uint8_t* e = s + 8;
  for (int i = 0; i < entries; ++i, e += 4) {
    if ((e[2] & 0xE0) != 0xE0) {
      ++error_count;
      trace("PAT: reserved bits of entry %d not '111'\n", i);
    }
    const int number = (e[0] << 8) | e[1];
    const int pid = ((e[2] & 0x1F) << 8) | e[3];
    if (number == 0) {
      network_pids.push_back(pid);
      ++network_pid_count;
    } else {
      program_numbers.push_back(number);
      pmt_pids.push_back(pid);
      ++program_count;
    }
  }
  CRC_32 = read_be32(e);
  if (mpeg_crc32(s, static_cast<size_t>(section_length) + 3) != 0) {
    ++error_count;
    trace("PAT: CRC_32 mismatch\n");
  }
  if (section_length + 3 < 184) {
    build_packet(stored_packet, 0, s, section_length + 3);
    stored_packet_length = 188;
  }
  return section_length + 3;
}

// ---- PMT -------------------------------------------------------------------

void TSPMT::free_es() {
  es_count = 0;
  es_type_codes.clear();
  es_pids.clear();
  es_info_lengths.clear();
  es_descriptors.clear();
}

void TSPMT::clear() {
  section_length = program_number = version_number = current_next_indicator = 0;
  section_number = last_section_number = PCR_PID = 0;
  CRC_32 = 0;
  program_info_length = program_descriptor_count = 0;
  program_descriptors.clear();
  program_descriptor_lengths.clear();
  free_es();
  stored_packet_length = 0;
  pmt_pid = 0;
  error_count = 1;
  ac3_es_count = first_ac3_pid = lpcm_flag = 0;
  ac3_descriptor = AC3Descriptor();
  lpcm_flag = spare = 0;
}

void TSPMT::cleanup() {
  clear();
  program_descriptors.shrink_to_fit();
  program_descriptor_lengths.shrink_to_fit();
  es_type_codes.shrink_to_fit();
  es_pids.shrink_to_fit();
  es_info_lengths.shrink_to_fit();
  es_descriptors.shrink_to_fit();
}

TSPMT& TSPMT::operator=(const TSPMT& o) {
  if (this == &o) return *this;
  if (es_count || !es_pids.empty()) free_es();
  error_count = o.error_count;
  if (o.error_count) return *this;  // a faulty table is never copied
  copy_section(*this, o);
  program_number = o.program_number;
  PCR_PID = o.PCR_PID;
  program_info_length = o.program_info_length;
  program_descriptor_count = o.program_descriptor_count;
  program_descriptors = o.program_descriptors;
  program_descriptor_lengths = o.program_descriptor_lengths;
  es_count = o.es_count;
  es_type_codes = o.es_type_codes;
  es_pids = o.es_pids;
  es_info_lengths = o.es_info_lengths;
  es_descriptors = o.es_descriptors;
  pmt_pid = o.pmt_pid;
  ac3_es_count = o.ac3_es_count;
  first_ac3_pid = o.first_ac3_pid;
  ac3_descriptor = o.ac3_descriptor;
  lpcm_flag = o.lpcm_flag;
  return *this;
}

int TSPMT::decode(const uint8_t* s, int length, int pid) {
  stored_packet_length = 0;
  error_count = 0;
  if (!s || length < 16) {
    ++error_count;
    trace("PMT: section too short (%d bytes)\n", length);
    section_length = program_number = 0;
    return 0;
  }
  section_length = ((s[1] & 0x0F) << 8) | s[2];
  if (s[0] != 2) {
    ++error_count;
    trace("PMT: table_id %d is not 2\n", s[0]);
  }
  check_syntax_bits(s, "PMT", error_count);
  if (section_length > length - 3) {
    ++error_count;
    trace("PMT: section_length %d does not fit %d bytes\n", section_length, length);
  }
  check_version_bits(s, "PMT", error_count);
  if ((s[8] & 0xE0) != 0xE0) {
    ++error_count;
    trace("PMT: reserved bits before PCR_PID not '111'\n");
  }
  if ((s[10] & 0xF0) != 0xF0) {
    ++error_count;
    trace("PMT: reserved bits before program_info_length not '1111'\n");
  }
  if (error_count) {
    section_length = program_number = 0;
    return 0;
  }
  program_number = (s[3] << 8) | s[4];
  read_version_fields(*this, s);
  PCR_PID = ((s[8] & 0x1F) << 8) | s[9];
  program_info_length = ((s[10] & 0x0F) << 8) | s[11];

  program_descriptors.clear();
  program_descriptor_lengths.clear();
  program_descriptor_count = 0;
  // The ES loop and the CRC must follow the program info inside the section.
  const int es_loop = section_length - program_info_length - 13;
  if (program_info_length > length - 12 || es_loop < 0) {
    ++error_count;
    trace("PMT: program_info_length %d does not fit the section\n", program_info_length);
    return 0;
  }

  // Program descriptors: whole ones only.
  for (int at = 0; at + 2 <= program_info_length;) {
    const int size = 2 + s[12 + at + 1];
    if (at + size > program_info_length) {
      ++error_count;
      trace("PMT: program descriptor passes program_info_length\n");
      break;
    }
    program_descriptors.emplace_back(s + 12 + at, s + 12 + at + size);
    program_descriptor_lengths.push_back(size);
    at += size;
  }
  program_descriptor_count = static_cast<int32_t>(program_descriptors.size());

  free_es();
  const uint8_t* loop = s + 12 + program_info_length;
  // First pass: how many entries, and whether any carries descriptors.
  int kept_estimate = 0;
  int with_info = 0;
  int end = 0;
  for (int at = 0; at < es_loop;) {
    if (at + 5 > es_loop) {
      ++error_count;
      trace("PMT: ES entry passes the end of the loop\n");
      break;
    }
    const uint8_t* e = loop + at;
    const int info = ((e[3] & 0x0F) << 8) | e[4];
    if (at + 5 + info > es_loop) {
      ++error_count;
      trace("PMT: ES_info_length %d passes the end of the loop\n", info);
      break;
    }
    if ((e[1] & 0xE0) != 0xE0 || (e[3] & 0xF0) != 0xF0) {
      ++error_count;
      trace("PMT: reserved bits of an ES entry not all ones\n");
      break;
    }
    if ((e[0] >= 1 && e[0] <= 4) || e[0] > 127) ++kept_estimate;
    if (info > 0) ++with_info;
    at += 5 + info;
    end = at;
  }
  // A PMT repeats every few packets: the AC-3 tally starts again each time.
  ac3_es_count = first_ac3_pid = lpcm_flag = 0;
  ac3_descriptor = AC3Descriptor();
  es_type_codes.reserve(static_cast<size_t>(kept_estimate));
  es_pids.reserve(static_cast<size_t>(kept_estimate));
  es_info_lengths.reserve(static_cast<size_t>(kept_estimate));
  // Second pass over the entries the first one accepted.
  for (int at = 0; at < end;) {
    const uint8_t* e = loop + at;
    const int type = e[0];
    const int es_pid = ((e[1] & 0x1F) << 8) | e[2];
    const int info = ((e[3] & 0x0F) << 8) | e[4];
    if (type >= 1 && type <= 4) {
      es_type_codes.push_back(stream_type_from_pmt_type(type));
      es_pids.push_back(es_pid);
      es_info_lengths.push_back(info);
      if (with_info) {
        es_descriptors.resize(es_pids.size());
        if (info > 0) es_descriptors.back().assign(e + 5, e + 5 + info);
      }
    } else if (type == 0x80) {
      // Linear PCM as Blu-ray recorders carry it (private stream 1, a
      // four-byte header in front of each PES payload).
      es_type_codes.push_back(STREAM_TYPE_LPCM);
      es_pids.push_back(es_pid);
      es_info_lengths.push_back(info);
      if (with_info) {
        es_descriptors.resize(es_pids.size());
        if (info > 0) es_descriptors.back().assign(e + 5, e + 5 + info);
      }
      ++lpcm_flag;
    } else if (type == 0x81) {
      es_type_codes.push_back(STREAM_TYPE_AC3_AUDIO);
      es_pids.push_back(es_pid);
      es_info_lengths.push_back(0);
      if (with_info) {
        es_descriptors.resize(es_pids.size());
        if (info > 0) es_descriptors.back().assign(e + 5, e + 5 + info);
      }
      if (!ac3_es_count) first_ac3_pid = es_pid;
      ++ac3_es_count;
      if (info > 0) ac3_descriptor.decode(e + 5, info);
    }
    at += 5 + info;
  }
  es_count = static_cast<int32_t>(es_pids.size());
  if (with_info && es_descriptors.size() < es_pids.size()) es_descriptors.resize(es_pids.size());

  CRC_32 = read_be32(loop + es_loop);
  if (mpeg_crc32(s, static_cast<size_t>(section_length) + 3) != 0) {
    ++error_count;
    trace("PMT: CRC_32 mismatch\n");
  }
  if (error_count) return 0;
  pmt_pid = pid;
  // A section too long for one packet keeps no stored packet.
  if (section_length + 3 <= 183) {
    build_packet(stored_packet, pid, s, section_length + 3);
    stored_packet_length = 188;
  }
  return length;
}

void TSPMT::set_pmt(int count, const int* pids, const int* type_codes) {
  if (count < 1 || !pids || !type_codes) return;
  cleanup();
  error_count = 0;  // a table built from scanned streams is usable (and copyable)
  es_count = count;
  es_type_codes.assign(type_codes, type_codes + count);
  es_pids.assign(pids, pids + count);
  es_info_lengths.assign(static_cast<size_t>(count), 0);
  for (int i = 0; i < count && PCR_PID == 0; ++i)
    if (type_codes[i] == STREAM_TYPE_MPEG1_VIDEO || type_codes[i] == STREAM_TYPE_MPEG2_VIDEO) PCR_PID = pids[i];
}

// ---- sections over several packets ---------------------------------------

void SectionAssembler::append(const uint8_t* p, int n) {
  if (n <= 0 || want_ < 0) return;
  const int room = want_ > 0 ? want_ - size() : n;
  bytes_.insert(bytes_.end(), p, p + std::min(n, room));
  if (want_ == 0 && size() >= 3) {
    // A section is at most 4096 bytes (section_length up to 4093).
    want_ = 3 + (((bytes_[1] & 0x0F) << 8) | bytes_[2]);
    if (want_ > 4096) want_ = -1;
    else if (size() > want_) bytes_.resize(static_cast<size_t>(want_));
  }
}

bool SectionAssembler::start(const uint8_t* payload, int length) {
  bytes_.clear();
  want_ = 0;
  if (!payload || length < 2) return false;
  const int pointer = payload[0];
  if (1 + pointer >= length) return false;
  append(payload + 1 + pointer, length - 1 - pointer);
  return complete();
}

bool SectionAssembler::add(const uint8_t* payload, int length, bool unit_start) {
  if (!growing() || !payload || length <= 0) return complete();
  if (!unit_start) {
    append(payload, length);
    return complete();
  }
  // The next section starts here: this one ends before it or never.
  append(payload + 1, std::min(static_cast<int>(payload[0]), length - 1));
  if (!complete()) want_ = -1;
  return complete();
}
