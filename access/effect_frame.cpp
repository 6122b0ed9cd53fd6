#include "access/effect_frame.h"

#include <memory>

#include "access/effects.h"
#include "foundation/trace.h"
#include "picture/frame.h"

int Effect::new_clip(int op_id, int op_length, int value1, int value2) {
  if (op_id < 0 || op_id >= effect_op_get_count()) {
    trace("Effect::new_clip (ERROR): invalid input parameter: op_id=%d, op_length=%d\n", op_id, op_length);
    op_id_ = op_length_ = 0;
    return 0;
  }
  op_id_ = op_id;
  op_length_ = op_length;
  value1_ = value1;
  value2_ = value2;
  return op_id;
}

static void plain_copy(Frame* out, Frame* from) {
  if (out && from && out != from) out->copy_from(from, 0, 0, 1);
}

int Effect::effect(int position, Frame* out, Frame* source, Frame* second) {
  if (position < 0) {
    trace("Effect::effect (ERROR): input parameters (id=%d, offset=%d, length=%d)\n", op_id_, position, op_length_);
    plain_copy(out, source);
    return 1;
  }
  if (op_length_ <= 0 || op_id_ <= 0 || op_id_ >= effect_op_get_count()) {
    plain_copy(out, source);
    if (position == 0) return 0;
    trace("Effect::effect (ERROR): input parameters (id=%d, offset=%d, length=%d)\n", op_id_, position, op_length_);
    return 1;
  }
  const EffectOp op = effect_op_get(op_id_);
  if (!op) {
    trace("Effect::effect (ERROR): nil function pointer from effect_get_op (%d)\n", op_id_);
    return 1;
  }
  const unsigned kind = op(0, 0, nullptr, nullptr, nullptr, nullptr, 0, 0);
  if (!out || !source) {
    trace("Effect::effect (ERROR): nil pointer in input images (%s)\n", out ? "src" : "out");
    return 1;
  }
  if (kind == 2 && !second) {
    trace("Effect::effect (ERROR): nil pointer in input images (%s)\n", "second");
    return 1;
  }
  if (position >= op_length_) {
    if (position > op_length_)
      trace("Effect::effect (Warning): input parameters (id=%d, offset=%d, length=%d)\n", op_id_, position,
            op_length_);
    plain_copy(out, kind == 2 ? second : source);
    return 0;
  }
  if (kind != 2) {
    op(position, op_length_, out->image(), source->image(), nullptr, nullptr, value1_, value2_);
    return 0;
  }
  // Both inputs at the output's size; a frame no ratio fits is used as it is.
  auto fit = [&](Frame* f) -> std::unique_ptr<Frame> {
    if (f->get_width() == out->get_width() && f->get_height() == out->get_height()) return nullptr;
    return std::unique_ptr<Frame>(f->create_scaled(out->get_width(), out->get_height()));
  };
  auto s = fit(source), d = fit(second);
  op(position, op_length_, out->image(), (s ? s.get() : source)->image(), (d ? d.get() : second)->image(), nullptr,
     value1_, value2_);
  return 0;
}
