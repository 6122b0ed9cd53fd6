// One 188-byte transport packet header and its adaptation field.
#pragma once

#include <cstdint>
#include <memory>

constexpr int kTSPacketSize = 188;

class TSAdaptationField {
 public:
  // Decodes the field starting at its length byte; `field` must have 184
  // readable bytes (the rest of a packet). Returns the bytes it occupies
  // (length + 1). copy != 0 keeps a raw copy of those bytes.
  [[nodiscard]] int decode(const uint8_t* field, int copy);

  uint8_t adaptation_field_length = 0;  // stored as 183 when larger
  uint8_t discontinuity_indicator = 0;
  uint8_t random_access_indicator = 0;
  uint8_t elementary_stream_priority_indicator = 0;
  uint8_t PCR_flag = 0;
  uint8_t OPCR_flag = 0;
  uint8_t splicing_point_flag = 0;
  uint8_t transport_private_data_flag = 0;
  uint8_t adaptation_field_extension_flag = 0;
  double pcr_base = 0;  // 33 bits, 90 kHz units
  int32_t pcr_extension = 0;
  std::unique_ptr<uint8_t[]> raw;  // 215 bytes once a copy was asked for

  // PCR in 90 kHz units (base + extension / 300).
  double pcr() const { return pcr_base + pcr_extension / 300.0; }
};

class TSPacket {
 public:
  // Decodes the packet at `packet` (188 readable bytes). Returns 0, or 2
  // when the sync byte is missing (the record is then left as it was).
  [[nodiscard]] int decode(const uint8_t* packet, int copy);
  void clear();
  void cleanup();

  // First payload byte within the decoded packet (188 - payload length).
  int payload_start() const { return kTSPacketSize - payload_length; }
  bool has_pcr() const { return adaptation && (adaptation_field_control & 2) && adaptation->PCR_flag; }

  int32_t PID = 0;
  int32_t transport_error_indicator = 0;
  int32_t payload_unit_start_indicator = 0;
  int32_t transport_priority = 0;
  int32_t transport_scrambling_control = 0;
  int32_t adaptation_field_control = 0;
  int32_t continuity_counter = 0;
  std::unique_ptr<TSAdaptationField> adaptation;
  std::unique_ptr<uint8_t[]> packet_copy;
  int32_t payload_length = 0;
};
