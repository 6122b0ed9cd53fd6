// Edits on the real engine against a list of the source frames each
// position should show: random cuts, trims, merges, pastes, undos and
// redos, each checked by the frame number the fixture draws in the shown
// picture, and sampled frames by picture against ffmpeg's decode.
#include <random>
#include <set>

#include "app/shell/mpeg_editor_adapter.h"
#include "e2e.h"
#include "player_fixture.h"
#include "support.h"

namespace {

// The frame slot's picture as top-down RGB.
tsupport::RgbImage shown(const CQuarvelPlayerView& view) {
  const FrameSlot::Picture pic = view.frame_slot().get();
  tsupport::RgbImage out;
  if (!pic.valid || pic.header.header.biBitCount != 24) return out;
  out.w = pic.header.header.biWidth;
  out.h = std::abs(pic.header.header.biHeight);
  const bool bottom_up = pic.header.header.biHeight > 0;
  const int stride = bmp_get_bytes_per_line(24, out.w);
  out.px.resize(size_t(out.w) * size_t(out.h) * 3);
  for (int y = 0; y < out.h; ++y) {
    const uint8_t* row = pic.bits.data() + size_t(bottom_up ? out.h - 1 - y : y) * size_t(stride);
    for (int x = 0; x < out.w; ++x) {
      uint8_t* d = out.px.data() + (size_t(y) * size_t(out.w) + size_t(x)) * 3;
      d[0] = row[3 * x + 2];
      d[1] = row[3 * x + 1];
      d[2] = row[3 * x];
    }
  }
  return out;
}

int number_of(const tsupport::RgbImage& img) {
  tsupport::Match where;
  where.x = where.y = 0;
  where.w = img.w;
  where.h = img.h;
  where.divisor = 1;
  where.source_w = img.w;
  return tsupport::read_frame_number(img, where);
}

// The player view on the engine over the window fixture's movie.
class EngineEdits : public ::testing::Test {
 protected:
  void SetUp() override {
    TSUPPORT_NEED_FIXTURES("ui.mpg");
    editor = MpegEditorAdapter::open(movie, 0);
    ASSERT_NE(editor, nullptr);
    editor->set_bmp_depth(24);
    ASSERT_EQ(view.attach_editor(editor.get(), 1), 1);
  }
  void TearDown() override { view.detach_editor(); }

  FakePlatform fake;
  EditorSettings settings;
  const std::string movie = tsupport::fixture("ui.mpg");
  std::unique_ptr<IEditor> editor;
  CQuarvelPlayerView view{&settings};
};

TEST_F(EngineEdits, RandomEditsFollowTheReferenceList) {

  std::vector<int> ref(250);
  for (int i = 0; i < 250; ++i) ref[size_t(i)] = i;
  std::vector<std::vector<int>> undo, redo;
  std::mt19937 rng(40);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int checked_pictures = 0;
  std::set<int> acted;

  for (int step = 0; step < 14; ++step) {
    const int total = int(ref.size());
    const int in = pick(0, total - 2), out = pick(in, std::min(total - 1, in + total / 3));
    const int ins = pick(0, total - 1);
    view.mark_in = in;
    view.mark_out = out;
    view.insert_point = ins;
    view.post_command(kCodeGoto, pick(0, total - 1));
    const int op = step < 10 ? pick(0, 4) : pick(5, 6);
    SCOPED_TRACE(testing::Message() << "step " << step << " op " << op << " marks " << in << ".." << out
                                    << " insert " << ins << " total " << total);
    std::vector<int> next = ref;
    bool acts = false;
    switch (op) {
      case 0:  // cut
        acts = out - in + 1 < total;
        next.erase(next.begin() + in, next.begin() + out + 1);
        view.run_command(pcmd::kCut);
        break;
      case 1:  // trim left
        acts = in > 0 && in != out;
        next.erase(next.begin(), next.begin() + in);
        view.run_command(pcmd::kTrimLeft);
        break;
      case 2:  // trim right
        acts = in != out && out != total - 1;
        next.erase(next.begin() + out + 1, next.end());
        view.run_command(pcmd::kTrimRight);
        break;
      case 3:  // merge
        acts = in != out && out - in + 1 < total;
        next.assign(ref.begin() + in, ref.begin() + out + 1);
        view.run_command(pcmd::kMerge);
        break;
      case 4: {  // paste of the marked frames at the insert point
        acts = in != out;
        const std::vector<int> seg(ref.begin() + in, ref.begin() + out + 1);
        next.insert(next.begin() + ins, seg.begin(), seg.end());
        view.run_command(pcmd::kPaste);
        if (acts) {
          EXPECT_EQ(view.mark_in, ins);
          EXPECT_EQ(view.mark_out, ins + out - in);
        }
        break;
      }
      case 5:  // undo
        acts = !undo.empty();
        if (acts) next = undo.back();
        view.run_command(pcmd::kUndo);
        break;
      case 6:  // redo
        acts = !redo.empty();
        if (acts) next = redo.back();
        view.run_command(pcmd::kRedo);
        break;
    }
    if (acts) {
      acted.insert(op);
      if (op == 5) {
        undo.pop_back();
        redo.push_back(ref);
      } else if (op == 6) {
        redo.pop_back();
        undo.push_back(ref);
      } else {
        undo.push_back(ref);
        redo.clear();
      }
      ref = next;
    }
    ASSERT_EQ(view.total_frames, int(ref.size()));
    ASSERT_EQ(editor->get_total_frames(), int(ref.size()));
    EXPECT_EQ(view.undo_history().count(), int(undo.size()));
    EXPECT_EQ(view.redo_history().count(), int(redo.size()));
    EXPECT_LE(0, view.mark_in);
    EXPECT_LE(view.mark_in, view.mark_out);
    EXPECT_LT(view.mark_out, view.total_frames);
    EXPECT_EQ(number_of(shown(view)), ref[size_t(view.current_frame)]);
    // Two sampled positions by number, one of them by picture.
    for (int k = 0; k < 2; ++k) {
      const int at = pick(0, int(ref.size()) - 1);
      view.post_command(kCodeGoto, at);
      const tsupport::RgbImage img = shown(view);
      ASSERT_EQ(number_of(img), ref[size_t(at)]) << "position " << at;
      if (k == 0 && step % 3 == 0) {
        const tsupport::RgbImage want = tsupport::decode_frame(movie, ref[size_t(at)]);
        EXPECT_GE(tsupport::psnr_at(img, want, 0, 0), 35.0);
        ++checked_pictures;
      }
    }
  }
  EXPECT_GT(checked_pictures, 0);
  EXPECT_GE(acted.size(), 6u);
}

// Snapshots of the engine's frame: a bitmap for a bare name, a JPEG for a
// typed ".jpg" whatever the radio button says, a one-picture MPEG-1 for
// ".mpv"; each file decodes (ffmpeg) to the frame.
TEST_F(EngineEdits, SnapshotsPassByPicture) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  view.post_command(kCodeGoto, 30);
  const tsupport::RgbImage want = tsupport::decode_frame(movie, 30);
  const tsupport::RgbImage next = tsupport::decode_frame(movie, 31);
  struct Case {
    const char* typed;
    ImageFormat radio;
    const char* file;
    std::string magic;
  };
  const Case cases[] = {
      {"shot", ImageFormat::Bitmap, "shot.bmp", "BM"},
      {"x.jpg", ImageFormat::Bitmap, "x.jpg", "\xFF\xD8"},
      {"still.mpv", ImageFormat::Jpeg, "still.mpv", std::string("\0\0\1\xB3", 4)},
  };
  const std::string dir = tsupport::test_dir();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    fake.dialogs.push_path(dir + "/" + c.typed, c.radio);
    view.run_command(pcmd::kSnapshot);
    const std::vector<uint8_t> bytes = tsupport::read_file(dir + "/" + c.file);
    ASSERT_GT(bytes.size(), c.magic.size());
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + std::ptrdiff_t(c.magic.size())), c.magic);
    const tsupport::RgbImage got = tsupport::decode_frame(dir + "/" + c.file, 0);
    ASSERT_EQ(got.w, want.w);
    ASSERT_EQ(got.h, want.h);
    const double score = tsupport::psnr_at(got, want, 0, 0);
    EXPECT_GE(score, 35.0);
    EXPECT_LT(tsupport::psnr_at(got, next, 0, 0), score);
    EXPECT_EQ(number_of(got), 30);
  }
}

}  // namespace
