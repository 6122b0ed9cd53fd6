// One save as a request: the output kind (decided here, once), the edit
// list and the options. `tamsel-dev save` and the editor's save entry both
// build one and run it through save_run.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/record_data.h"

class GOPList;

enum class OutputKind { es, mpeg1, vcd, ps, svcd, dvd, ts };

// How the writer makes an output kind.
struct OutputProfile {
  int mux_type = 0;        // MuxType (es: the video's own MPEG version decides)
  bool nav_packs = false;  // DVD navigation packs
  bool svcd = false;       // Super Video CD rules
  bool vbr = false;        // the multiplexer follows the streams' rate
};
OutputProfile output_profile(OutputKind kind);

std::optional<OutputKind> output_kind_named(std::string_view name);
const char* output_kind_name(OutputKind kind);
// A stored kind code (2..8, as save projects and the facade give it) with
// the SVCD and DVD flags that make a program stream one of those.
std::optional<OutputKind> output_kind_of_code(int code, bool svcd, bool dvd);

// Frames [first, last] of input `file` (an index of the caller's).
struct SaveRange {
  int file = 0;
  int64_t first = 0, last = 0;
};
// Widens a range to whole GOPs: first to the last I picture shown at or
// before it, last to the end of the coded GOP that holds it.
void save_widen_range(GOPList* list, SaveRange* r);

struct SaveRequest {
  OutputKind kind = OutputKind::ps;
  std::string output;
  const MPEG_Clip* clips = nullptr;  // the edit list; the save works on a copy
  // The save's options; kind, name, svcd and dvd come from the fields above.
  RecordData options;
  // Whole GOPs only: every clip widened to GOPs, touching clips of one
  // file joined, nothing re-encoded at the cuts.
  bool gop_only = false;
  // Per clip, the input it was cut from: only clips of one input join.
  // Empty: clips of one file join.
  std::vector<int> sources;
  bool copy_only = false;
  std::unique_ptr<FrameSource> frames;
  JobControl* control = nullptr;  // the caller's; a private one when null
};

// Takes the first clip's audio as the output's (in its own format: AC-3
// copied as AC-3); false when the movie has none.
bool save_request_take_audio(SaveRequest* request);

// What was saved, per run of joined clips: `file` is the position in the
// request's list of the run's first clip.
struct SaveRun {
  SaveReport report;
  std::vector<SaveRange> ranges;
};

// Runs the save; 0 when the output was saved (also when stopped with a
// kept file), 1 otherwise. The control ends at 100 with the outcome.
int save_run(SaveRequest& request, SaveRun* run = nullptr);
