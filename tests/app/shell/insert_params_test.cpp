// The insert record's field rules: offsets and lengths kept inside the
// input, effects fitted into the piece, Apply's corrections and refusal,
// and the operator lists of both modes.
#include <gtest/gtest.h>

#include "app/shell/insert_params.h"
#include "support.h"

namespace {

InsertOperators audio_ops() { return insert_operators(InsertMode::audio); }

// A 10 s input loaded at offset 0.
InsertParams ten_seconds() {
  InsertParams p;
  p.file_name = "in.mp2";
  p.input_length = 10;
  p.track_length = 60;
  insert_fit_to_input(&p);
  return p;
}

TEST(InsertRules, OffsetAndLengthStayInsideTheInput) {
  const InsertOperators ops = audio_ops();
  const InsertContext ctx{&ops, false, 5.0};
  EXPECT_DOUBLE_EQ(ten_seconds().length, 10);
  struct Case {
    const char* what;
    bool by_offset;
    double value, offset, length;
  };
  const Case cases[] = {
      {"offset 4", true, 4, 4, 6},
      {"offset 12 wraps to the whole input", true, 12, 0, 10},
      {"offset 10 leaves nothing: whole input", true, 10, 0, 10},
      {"negative offset is 0", true, -3, 0, 10},
      {"length 3", false, 3, 0, 3},
      {"length 15 is the input", false, 15, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InsertParams p = ten_seconds();
    if (c.by_offset) insert_set_offset(&p, c.value);
    else insert_set_length(&p, c.value, ctx);
    EXPECT_DOUBLE_EQ(p.offset, c.offset);
    EXPECT_DOUBLE_EQ(p.length, c.length);
  }
  // A length at an offset that would pass the end pulls the offset back.
  InsertParams p = ten_seconds();
  insert_set_offset(&p, 4);
  insert_set_length(&p, 8, ctx);
  EXPECT_DOUBLE_EQ(p.offset, 2);
  EXPECT_DOUBLE_EQ(p.length, 8);
  insert_select_all(&p);
  EXPECT_DOUBLE_EQ(p.offset, 0);
  EXPECT_DOUBLE_EQ(p.length, 10);
}

TEST(InsertRules, EffectsFitIntoThePiece) {
  const InsertOperators ops = audio_ops();
  const InsertContext ctx{&ops, false, 3.0};
  InsertParams p = ten_seconds();
  insert_select_start(&p, 1, ctx);
  insert_select_end(&p, 2, ctx);
  EXPECT_DOUBLE_EQ(p.start_length, 3);
  EXPECT_DOUBLE_EQ(p.end_length, 3);
  insert_set_length(&p, 5, ctx);
  EXPECT_DOUBLE_EQ(p.end_length, 2);
  EXPECT_DOUBLE_EQ(p.start_length, 3);
  // Shorter than the start effect: the end effect goes, the start shrinks.
  insert_set_length(&p, 2, ctx);
  EXPECT_EQ(p.end_operator, 0);
  EXPECT_DOUBLE_EQ(p.start_length, 2);
  // Length 0 clears the end effect and makes it unavailable.
  InsertParams q = ten_seconds();
  insert_select_end(&q, 2, ctx);
  insert_set_length(&q, 0, ctx);
  EXPECT_EQ(q.end_operator, 0);
  EXPECT_DOUBLE_EQ(q.end_length, 0);
  EXPECT_FALSE(insert_end_effect_available(q));
  EXPECT_TRUE(insert_end_effect_available(ten_seconds()));
  EXPECT_FALSE(insert_apply_enabled(q));
  EXPECT_FALSE(insert_input_controls(q, ctx).offset);
  EXPECT_TRUE(insert_input_controls(ten_seconds(), ctx).length);
}

TEST(InsertRules, EndEffectLongerThanWhatIsLeftIsDropped) {
  InsertParams p;
  p.end_operator = 2;
  p.end_inputs = 1;
  p.end_length = 5;
  p.input_length = 2;
  insert_fit_to_input(&p);
  EXPECT_DOUBLE_EQ(p.length, 2);
  EXPECT_EQ(p.end_operator, 0);
  EXPECT_GE(p.end_length, 0);
}

TEST(InsertRules, ApplyCorrectsAndRefuses) {
  const InsertOperators ops = audio_ops();
  const InsertContext ctx{&ops, false, 5.0};
  InsertParams none;
  none.track_length = 60;
  EXPECT_FALSE(insert_prepare_apply(&none, ctx));

  // An inputs-1 start effect of 5 s at 58 s of a 60 s track.
  InsertParams p = ten_seconds();
  p.insertion = 58;
  int one = 0;
  for (size_t i = 1; i < ops.size(); ++i)
    if (ops[i].inputs == 1 && !one) one = int(i);
  ASSERT_GT(one, 0);
  insert_select_start(&p, one, ctx);
  ASSERT_EQ(p.start_inputs, 1);
  ASSERT_TRUE(insert_prepare_apply(&p, ctx));
  EXPECT_DOUBLE_EQ(p.insertion, 55);

  insert_clear_for_next(&p);
  EXPECT_TRUE(p.file_name.empty());
  EXPECT_EQ(p.length, 0);
  EXPECT_EQ(p.start_operator, 0);
  EXPECT_DOUBLE_EQ(p.insertion, 55);
  EXPECT_EQ(insert_seconds_text(55), " 55.0");
}

TEST(InsertRules, TestPlaysFromTheMixingStart) {
  const InsertOperators ops = audio_ops();
  const InsertContext ctx{&ops, false, 2.0};
  InsertParams p = ten_seconds();
  p.insertion = 20;
  EXPECT_DOUBLE_EQ(insert_test_position(p, ctx), 20);
  int two = 0;
  for (size_t i = 1; i < ops.size(); ++i)
    if (ops[i].inputs == 2 && !two) two = int(i);
  ASSERT_GT(two, 0);
  insert_select_start(&p, two, ctx);
  EXPECT_DOUBLE_EQ(insert_test_position(p, ctx), 18);
}

TEST(InsertRules, VideoOperatorsAndStillImageKeying) {
  const InsertOperators video = insert_operators(InsertMode::video);
  const int n = int(video.size());
  ASSERT_GT(n, 4);
  EXPECT_EQ(video[0].name, "None");
  EXPECT_EQ(offered_operator_count(InsertMode::video, n, true), n - 4);
  EXPECT_EQ(offered_operator_count(InsertMode::video, n, false), n);
  EXPECT_EQ(offered_operator_count(InsertMode::audio, 5, true), 5);
  // Every offered operator with a file is a transition of the movie.
  for (int i = 1; i < n - 4; ++i) EXPECT_FALSE(video[size_t(i)].keying) << video[size_t(i)].name;

  // A still at 20 s of 60: colour keying over the rest of the track.
  const InsertContext ctx{&video, true, 5.0};
  InsertParams p;
  p.file_name = "title.bmp";
  p.track_length = 60;
  p.insertion = 20;
  p.input_length = 5;
  insert_fit_to_input(&p);
  insert_still_image_loaded(&p, ctx);
  ASSERT_GT(p.start_operator, 0);
  EXPECT_NE(video[size_t(p.start_operator)].name.find("Color"), std::string::npos);
  EXPECT_TRUE(ctx.keying(p.start_operator));
  EXPECT_DOUBLE_EQ(p.start_length, 40);
  EXPECT_DOUBLE_EQ(p.input_length, 40);
  EXPECT_DOUBLE_EQ(p.length, 0);
  EXPECT_EQ(p.start_inputs, 1);
  const InsertInputControls c = insert_input_controls(p, ctx);
  EXPECT_FALSE(c.offset);
  EXPECT_FALSE(c.all);
  EXPECT_FALSE(c.length);
  // Apply: the still lasts as long as its effect.
  ASSERT_TRUE(insert_prepare_apply(&p, ctx));
  EXPECT_DOUBLE_EQ(p.length, 40);
  EXPECT_DOUBLE_EQ(p.insertion, 20);
}

TEST(InsertInputs, LoadersTellInputsOfTheirModeFromDamagedOnes) {
  TSUPPORT_NEED_FIXTURES("ui.mpg", "mp2_44100.mp2", "ui_random.mpg", "ui_empty.mpg");
  const InsertInputLoader audio = insert_input_loader(InsertMode::audio);
  const InsertInputLoader video = insert_input_loader(InsertMode::video);
  double seconds = 0;
  bool still = true;
  ASSERT_TRUE(audio(tsupport::fixture("mp2_44100.mp2"), &seconds, &still));
  EXPECT_NEAR(seconds, 2.5, 0.05);
  EXPECT_FALSE(still);
  ASSERT_TRUE(video(tsupport::fixture("ui.mpg"), &seconds, &still));
  EXPECT_NEAR(seconds, 10.0, 0.05);
  EXPECT_FALSE(still);
  for (const char* bad : {"ui_random.mpg", "ui_empty.mpg"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(video(tsupport::fixture(bad), &seconds, &still));
    EXPECT_FALSE(audio(tsupport::fixture(bad), &seconds, &still));
  }
  EXPECT_FALSE(video("/nonexistent/x.mpg", &seconds, &still));
  EXPECT_EQ(insert_invalid_input_message(InsertMode::video, "x.mpg"), "<x.mpg>: NOT a valid MPEG video input file");
  EXPECT_EQ(insert_invalid_input_message(InsertMode::audio, "x.mp2"), "<x.mp2>: NOT a valid audio input file");
}

}  // namespace
