// Signal path of one AC-3 audio block (used by the core's driver).
#pragma once

struct ac3_dec_state;

namespace ac3 {

// Side information that starts afresh with each frame.
void reset_frame_side_info(ac3_dec_state* s);
// Reads the block's side information: 0, or 1 when it is damaged (the
// state then holds no out-of-range value, and the block is concealed).
int parse_side_info(ac3_dec_state* s);
// Bit allocation, mantissas, coupling, rematrixing, gains and the mix of the
// block: 0, or 1 when the block ran past its frame.
int decode_channels(ac3_dec_state* s);
// Transforms the intact (or repeated) coefficients, mixes them into the
// output slots, windows and overlaps; a muted block transforms nothing.
void synthesize(ac3_dec_state* s);

// The mix of the block's input channels into the output slots
// ([slot][input channel], LFE last) from the state's stream and settings,
// scaled so that no output exceeds full scale. Returns the overload flag.
bool build_mix(const ac3_dec_state* s, double (*mix)[6]);

// The inverse transform of one channel's 256 coefficients into 512 windowed
// values (two short transforms when short is set). Exposed for tests.
void imdct_window(const double* coef, bool short_blocks, double* out512);

}  // namespace ac3
