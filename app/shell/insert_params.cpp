#include "app/shell/insert_params.h"

#include <algorithm>
#include <cstdio>

#include "access/effects.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "audio/track/audio_editor.h"
#include "engine/clips/mixer.h"

InsertOperators insert_operators(InsertMode mode) {
  InsertOperators ops;
  int n = 0;
  const char* const* names =
      mode == InsertMode::audio ? mixer_op_get_names(&n) : effect_op_get_names(&n);
  for (int i = 0; i < n; ++i) {
    InsertOperator op;
    op.name = names[i] ? names[i] : "";
    if (mode == InsertMode::audio) {
      op.inputs = mixer_op_get_kind(i);
    } else {
      const OPEntry* e = effect_op_manager()->entry(i);
      op.inputs = e ? e->kind : 1;
    }
    op.keying = op.name.find("Keying") != std::string::npos;
    ops.push_back(op);
  }
  if (ops.empty() || ops[0].name != "None") ops.insert(ops.begin(), InsertOperator{"None", 1, false});
  return ops;
}

int offered_operator_count(InsertMode mode, int registry_count, bool file_named) {
  if (mode == InsertMode::video && file_named) return std::max(1, registry_count - 4);
  return registry_count;
}

bool InsertContext::keying(int index) const {
  return operators && index > 0 && index < int(operators->size()) && (*operators)[size_t(index)].keying;
}

int InsertContext::inputs(int index) const {
  if (!operators || index <= 0 || index >= int(operators->size())) return 0;
  return (*operators)[size_t(index)].inputs;
}

void insert_clear_start(InsertParams* p) {
  p->start_operator = 0;
  p->start_inputs = 0;
  p->start_length = 0;
}

void insert_clear_end(InsertParams* p) {
  p->end_operator = 0;
  p->end_inputs = 0;
  p->end_length = 0;
}

void insert_fit_to_input(InsertParams* p) {
  const double available = std::max(0.0, p->input_length - p->offset);
  if (p->length == 0 || p->length > available) p->length = available;
  if (p->end_operator && p->end_length != 0 && available - p->end_length < p->end_length) {
    // An end effect longer than what is left would go negative: it goes.
    p->end_length = available - p->end_length;
    if (p->end_length <= 0) insert_clear_end(p);
  }
}

void insert_clear_input(InsertParams* p) {
  p->offset = 0;
  p->length = 0;
  p->input_length = 0;
}

void insert_fit_effects(InsertParams* p) {
  if (p->start_length + p->end_length <= p->length) return;
  p->end_length = p->length - p->start_length;
  if (p->end_length <= 0) {
    insert_clear_end(p);
    if (p->start_length > p->length) p->start_length = p->length;
  }
}

void insert_set_offset(InsertParams* p, double offset) {
  offset = std::max(0.0, offset);
  if (offset == p->offset) return;
  p->offset = offset;
  if (p->offset + p->length > p->input_length) {
    p->length = p->input_length - p->offset;
    if (p->length <= 0) {
      p->offset = 0;
      p->length = p->input_length;
    }
  }
  insert_fit_effects(p);
}

void insert_set_length(InsertParams* p, double length, const InsertContext& ctx) {
  length = std::max(0.0, length);
  if (length == p->length) return;
  p->length = length;
  if (ctx.still_image && p->length > p->input_length) p->input_length = p->length;
  if (p->input_length - p->offset < p->length) {
    p->offset = p->input_length - p->length;
    if (p->offset < 0) {
      p->offset = 0;
      p->length = p->input_length;
    }
  }
  if (p->length == 0) {
    insert_clear_end(p);
    if (p->start_inputs == 2) insert_clear_start(p);
  } else {
    insert_fit_effects(p);
  }
}

void insert_set_start_length(InsertParams* p, double seconds, const InsertContext& ctx) {
  p->start_length = std::max(0.0, seconds);
  if (ctx.still_image && p->start_length > p->input_length && !ctx.keying(p->start_operator)) {
    p->input_length = p->start_length;
    p->length = p->start_length;
  }
}

void insert_set_end_length(InsertParams* p, double seconds) { p->end_length = std::max(0.0, seconds); }

void insert_select_all(InsertParams* p) {
  p->offset = 0;
  if (p->length < p->input_length) p->length = p->input_length;
}

void insert_select_start(InsertParams* p, int index, const InsertContext& ctx) {
  const int previous = p->start_operator;
  if (index <= 0) {
    insert_clear_start(p);
    return;
  }
  p->start_operator = index;
  p->start_inputs = ctx.inputs(index);
  if (p->start_length == 0) {
    p->start_length = ctx.default_effect_length;
    if (ctx.still_image && p->start_length > p->input_length) {
      p->input_length = p->start_length;
      p->length = p->start_length;
    }
  }
  if (!ctx.still_image) return;
  if (ctx.keying(index)) p->start_inputs = 1;
  if (ctx.keying(previous) && p->length == 0) {
    p->length = p->input_length;
  } else if (ctx.inputs(previous) == 2 && p->start_length <= p->length) {
    p->start_length = p->length;
  }
}

void insert_select_end(InsertParams* p, int index, const InsertContext& ctx) {
  if (index <= 0) {
    insert_clear_end(p);
    return;
  }
  p->end_operator = index;
  p->end_inputs = ctx.inputs(index);
  if (p->end_length == 0) p->end_length = ctx.default_effect_length;
}

void insert_still_image_loaded(InsertParams* p, const InsertContext& ctx) {
  if (p->start_operator == 0 && ctx.operators) {
    for (size_t i = 1; i < ctx.operators->size(); ++i) {
      const std::string& n = (*ctx.operators)[i].name;
      if (n.find("Keying") != std::string::npos && n.find("Color") != std::string::npos) {
        p->start_operator = int(i);
        break;
      }
    }
  }
  if (p->start_length == 0) {
    p->start_length = std::max(0.0, p->track_length - p->insertion);
    if (p->input_length < p->start_length) p->input_length = p->start_length;
  }
  if (p->start_length != 0 && p->start_operator) {
    // The still lies over the movie: nothing is inserted.
    p->length = 0;
    p->start_inputs = 1;
  }
}

bool insert_end_effect_available(const InsertParams& p) { return p.length > 0; }

bool insert_apply_enabled(const InsertParams& p) {
  return p.length > 0 || (p.start_operator && p.start_length != 0) || (p.end_operator && p.end_length != 0);
}

InsertInputControls insert_input_controls(const InsertParams& p, const InsertContext& ctx) {
  InsertInputControls c;
  const bool on = !p.file_name.empty() && p.length > 0;
  c.offset = c.length = c.all = on;
  if (ctx.still_image) {
    c.offset = c.all = false;
    c.length = !ctx.keying(p.start_operator);
  }
  return c;
}

bool insert_prepare_apply(InsertParams* p, const InsertContext& ctx) {
  if (p->file_name.empty() && !p->start_operator && !p->end_operator) return false;
  if (ctx.still_image && p->start_operator) {
    if (p->length == 0) p->length = p->input_length;
    p->length = std::max(p->length, p->start_length);
  }
  if (p->start_operator && p->start_inputs == 1 && p->insertion + p->start_length > p->track_length)
    p->insertion = std::max(0.0, p->track_length - p->start_length);
  return true;
}

void insert_clear_for_next(InsertParams* p) {
  p->file_name.clear();
  insert_clear_input(p);
  insert_clear_start(p);
  insert_clear_end(p);
}

double insert_test_position(const InsertParams& p, const InsertContext&) {
  if (p.start_operator && p.start_inputs == 2) return p.insertion - p.start_length;
  return p.insertion;
}

std::string insert_seconds_text(double seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %.1f", seconds);
  return buf;
}

InsertInputLoader insert_input_loader(InsertMode mode) {
  if (mode == InsertMode::audio) {
    return [](const std::string& path, double* seconds, bool* still) {
      AudioEditor track;
      int error = 0;
      track.create(path.c_str(), &error, 0, 0);
      if (error || !track.track()) return false;
      *seconds = track.get_length();
      *still = false;
      return true;
    };
  }
  return [](const std::string& path, double* seconds, bool* still) {
    std::unique_ptr<IEditor> editor = MpegEditorAdapter::open(path, 2);
    if (!editor) return false;
    *seconds = editor->get_total_time();
    *still = editor->is_still_image();
    return true;
  };
}

std::string insert_invalid_input_message(InsertMode mode, const std::string& path) {
  return "<" + path + (mode == InsertMode::audio ? ">: NOT a valid audio input file" : ">: NOT a valid MPEG video input file");
}
