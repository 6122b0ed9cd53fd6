// One insert edit, in seconds, shared by the audio window, the video
// editor window and the Insert dialog: a piece of another file (offset and
// length within it) put in at an insertion point, with an optional start
// and end effect, or effects alone at the point. The dialog's field rules
// are plain functions over the record so that both windows and the tests
// run the very same arithmetic.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct InsertParams {
  std::string file_name;  // empty for an effects-only insert
  double offset = 0;      // seconds into the input
  double length = 0;      // seconds of input to insert
  double input_length = 0;
  double insertion = 0;  // seconds in the edited track
  double track_length = 0;
  int start_operator = 0;  // index into the operator list, 0 none
  int start_inputs = 0;    // 1 acts on the piece, 2 mixes it with the track
  double start_length = 0;
  int end_operator = 0;
  int end_inputs = 0;
  double end_length = 0;
  double play_position = 0;
  int scale_position = 0;   // 0..100, kept between openings
  int offset_position = 0;  // 0..100
};

// One entry of an effect list; index 0 is always "None".
struct InsertOperator {
  std::string name;
  int inputs = 1;
  bool keying = false;  // name holds "Keying"
};
using InsertOperators = std::vector<InsertOperator>;

enum class InsertMode { audio = 0, video = 1 };

// The registry of the mode: audio mixer operators or video effects.
InsertOperators insert_operators(InsertMode mode);
// Entries the effect lists offer: video with a file named leaves out the
// last four (keying titles and fades act on the movie, not on a piece).
int offered_operator_count(InsertMode mode, int registry_count, bool file_named);

// What the rules know beyond the record.
struct InsertContext {
  const InsertOperators* operators = nullptr;
  bool still_image = false;  // video: the input is a still of free length
  double default_effect_length = 5.0;

  bool keying(int index) const;
  int inputs(int index) const;
};

// After the input's length is known: the length fills what the offset
// leaves when it is 0 or too long, and an end effect is fitted to it.
void insert_fit_to_input(InsertParams* p);
// Empties the input (offset, length and input length 0).
void insert_clear_input(InsertParams* p);
// Start and end effects fitted into the length.
void insert_fit_effects(InsertParams* p);

// "Offset (sec)", "Length (sec)", the effect lengths and "All".
void insert_set_offset(InsertParams* p, double offset);
void insert_set_length(InsertParams* p, double length, const InsertContext& ctx);
void insert_set_start_length(InsertParams* p, double seconds, const InsertContext& ctx);
void insert_set_end_length(InsertParams* p, double seconds);
void insert_select_all(InsertParams* p);
// The effect lists: index 0 clears the effect.
void insert_select_start(InsertParams* p, int index, const InsertContext& ctx);
void insert_select_end(InsertParams* p, int index, const InsertContext& ctx);
void insert_clear_start(InsertParams* p);
void insert_clear_end(InsertParams* p);

// A still image loaded in video mode: a colour-keying start effect over
// the rest of the track (a title laid over the movie).
void insert_still_image_loaded(InsertParams* p, const InsertContext& ctx);

// Enabling.
bool insert_end_effect_available(const InsertParams& p);
bool insert_apply_enabled(const InsertParams& p);
struct InsertInputControls {
  bool offset = false, length = false, all = false;
};
InsertInputControls insert_input_controls(const InsertParams& p, const InsertContext& ctx);

// Apply: false when there is nothing to insert ("No selection"); else the
// record is made ready for the caller (a still's length, an inputs-1 start
// effect kept inside the track).
bool insert_prepare_apply(InsertParams* p, const InsertContext& ctx);
// After Apply the input and both effects go; the insertion point stays.
void insert_clear_for_next(InsertParams* p);
// Where "Test" starts playing.
double insert_test_position(const InsertParams& p, const InsertContext& ctx);

// The edit fields' text: " %.1f".
std::string insert_seconds_text(double seconds);

// Opens an input to learn its length in seconds and whether it is a still
// image; false when it is no input of the mode.
using InsertInputLoader = std::function<bool(const std::string& path, double* seconds, bool* still_image)>;
// Audio: the file as an audio track; video: as an editor at quarter size.
InsertInputLoader insert_input_loader(InsertMode mode);
// "<%s>: NOT a valid audio input file" or "... MPEG video input file".
std::string insert_invalid_input_message(InsertMode mode, const std::string& path);
