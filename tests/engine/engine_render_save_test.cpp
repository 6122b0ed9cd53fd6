// Saves of movies with transitions and overlays: the mixed and overlaid
// pictures come from the engine and are re-encoded, the GOPs they do not
// touch are copied.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "access/effects.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/dtamsel.h"
#include "engine/editor_record.h"
#include "engine/mpeg_editor.h"
#include "engine_pictures.h"
#include "ffmpeg_oracle.h"
#include "record/record_data.h"
#include "support.h"

namespace {

constexpr int kW = 352, kH = 288;
constexpr size_t kY = size_t(kW) * kH, kC = kY / 4, kPic = kY + 2 * kC;

int effect_id(const char* name) {
  for (int id = 0; id < effect_op_get_count(); ++id)
    if (std::string(effect_op_get_name(id)) == name) return id;
  return -1;
}

double psnr3(const uint8_t* a, const uint8_t* b) {
  return std::min({tsupport::psnr(a, b, kY), tsupport::psnr(a + kY, b + kY, kC),
                   tsupport::psnr(a + kY + kC, b + kY + kC, kC)});
}

struct Part {
  const char* file;
  int start, count;
  const char* transition;  // effect into this clip, null for a cut
  int length;
};

MPEG_Clip* make_list(const std::vector<Part>& parts) {
  MPEG_Clip *head = nullptr, *tail = nullptr;
  for (const Part& p : parts) {
    MPEG_Clip* c = mpeg_clip_of_file(tsupport::fixture(p.file).c_str(), p.start, p.count);
    if (!c) {
      mpeg_clip_list_free(head);
      return nullptr;
    }
    if (p.transition) {
      c->transition_id = effect_id(p.transition);
      c->transition_length = p.length;
    }
    clip_list_link(&head, &tail, c);
  }
  return clip_update(head);
}

SaveReport save(const MPEG_Clip* list, const std::string& out, bool with_frames) {
  RecordData d;
  d.kind = 3;
  d.name = out;
  JobControl control;
  SaveReport rep;
  RecordJob job(list, d, &control);
  job.report = &rep;
  if (with_frames) job.frames = editor_record_frame_source(list);
  prepare_recording(job);
  return rep;
}

// The saved file decodes cleanly to exactly the engine's pictures of the
// movie: every frame at 40 dB or more, and nearer its own picture than the
// next one.
void expect_engine_pictures(DTamsel* engine, const std::string& out, int frames, const std::string& dir) {
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  const auto got = tsupport::ffmpeg_raw(out, "", "yuv420p", dir + "/out.yuv");
  ASSERT_EQ(got.size(), size_t(frames) * kPic);
  std::vector<uint8_t> want;
  for (int n = 0; n < frames; ++n) {
    ASSERT_EQ(engine->search(n, 0, 0), n);
    const auto shown = packed_420(engine->get_dtv_screen());
    ASSERT_EQ(shown.size(), kPic);
    want.insert(want.end(), shown.begin(), shown.end());
  }
  for (int n = 0; n < frames; ++n) {
    const uint8_t* o = got.data() + size_t(n) * kPic;
    const double p = psnr3(o, want.data() + size_t(n) * kPic);
    EXPECT_GE(p, 40.0) << "frame " << n;
    if (n + 1 < frames) EXPECT_LT(psnr3(o, want.data() + size_t(n + 1) * kPic), p) << "frame " << n;
  }
}

struct Case {
  const char* name;
  std::vector<Part> parts;
  const char* overlay;  // one-picture effect over [at, at + length) of the movie
  int at, length;
  int frames, reencoded;
};

// en_a and en_b: closed GOPs of 10 (I at 0, 10, 20, ...). Only the frames
// of the GOPs a transition or overlay touches are re-encoded: the rest of
// the GOP before it, the rendered frames, and the frames before the next I
// picture after it.
const Case kCases[] = {
    // 30..34 of the first clip, the 10 mixed frames, 15..19 of the second.
    {"blend", {{"en_a.m2v", 0, 45, nullptr, 0}, {"en_b.m2v", 5, 70, "Blend", 10}}, nullptr, 0, 0, 105, 20},
    // A clip shown wholly inside the transition is passed over: 30..34, the
    // mix, then 52..59 of the third clip up to its next I picture.
    {"passed over",
     {{"en_a.m2v", 0, 45, nullptr, 0}, {"en_b.m2v", 0, 10, "Blend", 10}, {"en_a.m2v", 52, 23, nullptr, 0}},
     nullptr,
     0,
     0,
     68,
     23},
    // 10..13, the faded 14..18, 19.
    {"overlay", {{"en_a.m2v", 0, 50, nullptr, 0}}, "Beginning Fade", 14, 5, 50, 10},
};

TEST(EngineRenderSave, TransitionsAndOverlaysAreRenderedByTheEngineAndOnlyTheirGopsReencoded) {
  TSUPPORT_NEED_FIXTURES("en_a.m2v", "en_b.m2v");
  const std::string dir = tsupport::temp_dir();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MPEG_Clip* list = make_list(c.parts);
    ASSERT_NE(list, nullptr);
    if (c.overlay) ASSERT_EQ(clip_add_overlay(list, effect_id(c.overlay), c.at, c.length), 1);
    std::unique_ptr<MPEG_Clip, void (*)(MPEG_Clip*)> hold(list, mpeg_clip_list_free);
    ASSERT_EQ(mpeg_clip_list_total_frames(list, 1), c.frames);

    const std::string out = dir + "/" + std::string(c.name) + ".m2v";
    const SaveReport rep = save(list, out, true);
    ASSERT_EQ(rep.failed, 0) << rep.message;
    EXPECT_EQ(rep.frames, c.frames);
    EXPECT_EQ(rep.reencoded, c.reencoded);
    EXPECT_EQ(rep.copied, c.frames - c.reencoded);
    std::unique_ptr<DTamsel> engine_made = DTamsel::create(list, 0);
    ASSERT_TRUE(engine_made);
    DTamsel& engine = *engine_made;
    expect_engine_pictures(&engine, out, c.frames, dir);
  }
}

// The editor's save entry takes the same way: a Blend inserted by the
// editor is saved as a program stream.
TEST(EngineRenderSave, EditorSaveEntryRendersTheBlend) {
  TSUPPORT_NEED_FIXTURES("en_a.m2v", "en_b.m2v");
  MPEG_Clip* list = make_list({{"en_a.m2v", 0, 40, nullptr, 0}, {"en_b.m2v", 0, 40, nullptr, 0}});
  ASSERT_NE(list, nullptr);
  std::unique_ptr<EClip> project(mpeg_clip_2_eclip(list));
  mpeg_clip_list_free(list);
  std::unique_ptr<MPEG_Editor> ed_made = MPEG_Editor::create(*project, 0, 0, 0);
  ASSERT_TRUE(ed_made);
  MPEG_Editor& ed = *ed_made;
  ASSERT_EQ(ed.frame_insert_transitions(40, effect_id("Blend"), 10), 10);
  ASSERT_EQ(ed.get_total_frames(), 70);
  const std::string dir = tsupport::temp_dir();
  const std::string out = dir + "/edit.mpg";
  int progress = 0;
  ASSERT_EQ(ed.frame_record_range(out.c_str(), 6, 0, 0, &progress), 1);
  EXPECT_EQ(progress, 100);
  expect_engine_pictures(ed.engine(), out, 70, dir);
}

// Without the engine's pictures a save cannot hold a transition: refused,
// never written with unmixed frames.
TEST(EngineRenderSave, TransitionWithoutFrameSourceIsRefused) {
  TSUPPORT_NEED_FIXTURES("en_a.m2v", "en_b.m2v");
  MPEG_Clip* list = make_list({{"en_a.m2v", 0, 40, nullptr, 0}, {"en_b.m2v", 0, 40, "Blend", 10}});
  ASSERT_NE(list, nullptr);
  std::unique_ptr<MPEG_Clip, void (*)(MPEG_Clip*)> hold(list, mpeg_clip_list_free);
  const std::string out = tsupport::temp_dir() + "/x.m2v";
  const SaveReport rep = save(list, out, false);
  EXPECT_EQ(rep.failed, 1);
  EXPECT_NE(rep.message.find("transition"), std::string::npos) << rep.message;
  EXPECT_TRUE(tsupport::read_file(out).empty());
}

}  // namespace
