#include "access/dtv_rates.h"

#include "access/dtv.h"
#include "foundation/trace.h"

int dtv_minimum_output_bit_rate_of_dtv(DTV* dtv, const MPEG_Clip* clip, int out[5]) {
  const SeqHdr* seq = dtv ? dtv->get_seqhdr() : nullptr;
  if (!seq || seq->invalid) {
    trace("dtv_minimum_output_bit_rate (ERROR): DTV::get_seqhdr () failed\n");
    return 1;
  }
  int types[2] = {seq->mpeg2 ? 3 : 2, 1};
  int rates[2] = {seq->get_bit_rate(), 0};
  int n = 1, sample_rate = 0, channels = 0;
  GOPList* index = dtv->get_goplist();
  if (index && clip && clip->audio_stream_id > 0) {
    // One clip: its audio agrees with itself when it has any.
    DeMuxer* dm = index->get_demuxer();
    int pid = 0;
    const int id = dm ? dm->get_audio_selection(&pid) : 0;
    FrmHdr* a = dm ? dm->get_audio_header(id, pid) : nullptr;
    if (a && a->valid) {
      rates[1] = a->bit_rate;
      sample_rate = a->sample_rate;
      channels = a->channels;
      n = 2;
    }
  }
  const double fr = dtv->get_frame_rate();
  const int w = seq->get_horizontal_size(), h = seq->get_vertical_size();
  const int rounded = int(fr + 0.5);
  const bool vcd = n == 2 && types[0] == 2 && rounded <= 30 && w <= 352 && h <= (rounded == 25 ? 288 : 240) &&
                   rates[0] <= 1152000 && rates[1] == 224000 && sample_rate == 44100 && channels == 2;
  out[0] = rates[0];
  out[1] = program_min_mux_rate(4, n, rates, types);
  out[2] = vcd ? program_min_mux_rate(5, n, rates, types) : 0;
  out[3] = program_min_mux_rate(6, n, rates, types);
  out[4] = transport_min_mux_rate(n, rates, types);
  return 0;
}

int dtv_minimum_output_bit_rate(const MPEG_Clip* clip, int out[5]) {
  int err = 1;
  DTV dtv(clip, &err, 0);
  if (err) {
    trace("dtv_minimum_output_bit_rate (ERROR): DTV ctor failed\n");
    return 1;
  }
  return dtv_minimum_output_bit_rate_of_dtv(&dtv, clip, out);
}
