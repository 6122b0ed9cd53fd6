#include "foundation/ts_packet.h"

#include <cstring>

#include "foundation/trace.h"

int TSAdaptationField::decode(const uint8_t* f, int copy) {
  adaptation_field_length = f[0];
  if (adaptation_field_length == 0) {
    // One stuffing byte, no flags: none may survive from the last packet
    // (a stale PCR_flag would hand that packet's PCR to this one).
    discontinuity_indicator = random_access_indicator = elementary_stream_priority_indicator = 0;
    PCR_flag = OPCR_flag = splicing_point_flag = transport_private_data_flag = 0;
    adaptation_field_extension_flag = 0;
    return 1;
  }
  // A longer field would run past the packet end.
  if (adaptation_field_length > 183) adaptation_field_length = 183;
  const uint8_t flags = f[1];
  discontinuity_indicator = (flags >> 7) & 1;
  random_access_indicator = (flags >> 6) & 1;
  elementary_stream_priority_indicator = (flags >> 5) & 1;
  PCR_flag = (flags >> 4) & 1;
  OPCR_flag = (flags >> 3) & 1;
  splicing_point_flag = (flags >> 2) & 1;
  transport_private_data_flag = (flags >> 1) & 1;
  adaptation_field_extension_flag = flags & 1;
  // The PCR needs 6 bytes after the flags; a shorter field only claims one.
  if (PCR_flag && adaptation_field_length >= 7) {
    pcr_base = f[2] * 33554432.0 + f[3] * 131072.0 + f[4] * 512.0 + f[5] * 2.0 + (f[6] >> 7);
    pcr_extension = ((f[6] & 1) << 8) | f[7];
  } else if (PCR_flag) {
    trace("adaptation field: PCR_flag set in a field of %d bytes\n", adaptation_field_length);
    PCR_flag = 0;
  }
  if (copy) {
    if (!raw) raw.reset(new uint8_t[215]());
    std::memcpy(raw.get(), f, static_cast<size_t>(adaptation_field_length) + 1);
  }
  return adaptation_field_length + 1;
}

void TSPacket::clear() {
  PID = transport_error_indicator = payload_unit_start_indicator = transport_priority = 0;
  transport_scrambling_control = adaptation_field_control = continuity_counter = 0;
  payload_length = 0;
}

void TSPacket::cleanup() {
  clear();
  adaptation.reset();
  packet_copy.reset();
}

int TSPacket::decode(const uint8_t* p, int copy) {
  if (p[0] != 0x47) return 2;
  transport_error_indicator = p[1] >> 7;
  payload_unit_start_indicator = (p[1] >> 6) & 1;
  transport_priority = (p[1] >> 5) & 1;
  PID = ((p[1] & 0x1F) << 8) | p[2];
  transport_scrambling_control = p[3] >> 6;
  adaptation_field_control = (p[3] >> 4) & 3;
  continuity_counter = p[3] & 15;
  int start = 4;
  if (adaptation_field_control & 2) {
    if (!adaptation) adaptation = std::make_unique<TSAdaptationField>();
    start += adaptation->decode(p + 4, 0);
  }
  payload_length = 0;
  if (!(adaptation_field_control & 1)) return 0;
  payload_length = kTSPacketSize - start;
  if (payload_length == 0 || !copy) return 0;
  if (!packet_copy) packet_copy.reset(new uint8_t[kTSPacketSize]);
  std::memcpy(packet_copy.get(), p, kTSPacketSize);
  return 0;
}
