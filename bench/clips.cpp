// The Video Clipboard and the Video Clip List under load, headless, over
// fixture movies ($TAMSEL_FIXTURES, default ./fixtures): a copy's time on
// the window's thread; a start of 50 clips with and without their
// thumbnail strip (the worker's pictures against as many exact searches,
// the window's 10 ms heartbeat watched meanwhile); 500 rows' memory; files
// added to the clip list ($TAMSEL_BENCH_DIR: every file in it).
#include <benchmark/benchmark.h>

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/shell/clipboard_model.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "app/tools/clip_list_model.h"
#include "platform/services.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string fixture(const char* name) {
  const char* dir = std::getenv("TAMSEL_FIXTURES");
  return std::string(dir && *dir ? dir : "fixtures") + "/" + name;
}

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

long rss_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// A clipboard whose thumbnails are never drawn.
void draw_nothing(VideoClipboard* board) {
  board->set_scheduler([](EClip, std::function<void(DrawnThumbnail)>) {});
}

// 50 clips of three movies, written once as the clipboard's two files.
struct Saved {
  std::string list, strip;
  std::vector<EClip> clips;
};
const Saved& saved() {
  static Saved s = [] {
    Saved out;
    char dir[] = "/tmp/bench-clips-XXXXXX";
    if (!mkdtemp(dir)) return out;
    out.list = std::string(dir) + "/mpeg-tamsel.vls";
    out.strip = std::string(dir) + "/mpeg-tamsel.bmp";
    const char* movies[] = {"ui.mpg", "ui_ntsc.mpg", "fa_ps.mpg"};
    VideoClipboard board(&MpegEditorAdapter::from_clip);
    board.set_scheduler([](EClip clip, std::function<void(DrawnThumbnail)> done) {
      done(draw_clip_thumbnail(clip, &MpegEditorAdapter::from_clip));
    });
    for (int i = 0; i < 50; ++i) {
      auto editor = MpegEditorAdapter::open(fixture(movies[i % 3]), 0);
      if (!editor) return out;
      std::unique_ptr<EClip> clip = editor->frame_copy((i * 3) % 20, 10);
      if (!clip) return out;
      clip->file_name = "#" + std::to_string(i + 1) + " clip";
      set_clip_thumbnail_frame(clip.get(), i % 10);
      out.clips.push_back(*clip);
      board.add_clip(*clip, nullptr);
    }
    if (board.write_project_list(out.list, out.strip) != 50) out.clips.clear();
    return out;
  }();
  return s;
}

bool ready(benchmark::State& state) {
  if (saved().clips.size() == 50) return true;
  state.SkipWithError("fixture movies missing (tests/fixtures/make.sh)");
  return false;
}

// A range copied from an editor window: the row and its picture are made
// on the window's thread.
void BM_CopyToClipboard(benchmark::State& state) {
  auto editor = MpegEditorAdapter::open(fixture("ui_sd.mpg"), 0);
  if (!editor) {
    state.SkipWithError("no ui_sd.mpg");
    return;
  }
  editor->set_bmp_depth(24);
  editor->search(12, 1);
  VideoClipboard board(&MpegEditorAdapter::from_clip);
  draw_nothing(&board);
  double worst = 0;
  for (auto _ : state) {
    const auto t = Clock::now();
    std::unique_ptr<EClip> clip = editor->frame_copy(10, 20);
    board.add_clip(*clip, editor.get());
    worst = std::max(worst, ms_since(t));
  }
  state.SetLabel("worst " + std::to_string(worst) + " ms");
}
BENCHMARK(BM_CopyToClipboard)->Unit(benchmark::kMillisecond)->Iterations(20);

// The start: the list alone (pictures left undrawn), and the list with its
// thumbnail strip.
void BM_ReadListAlone(benchmark::State& state) {
  if (!ready(state)) return;
  for (auto _ : state) {
    VideoClipboard board(&MpegEditorAdapter::from_clip);
    draw_nothing(&board);
    benchmark::DoNotOptimize(board.read_project_list(saved().list, ""));
  }
}
BENCHMARK(BM_ReadListAlone)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_ReadListWithStrip(benchmark::State& state) {
  if (!ready(state)) return;
  int jobs = 0;
  for (auto _ : state) {
    VideoClipboard board(&MpegEditorAdapter::from_clip);
    board.set_scheduler([&jobs](EClip, std::function<void(DrawnThumbnail)>) { ++jobs; });
    benchmark::DoNotOptimize(board.read_project_list(saved().list, saved().strip));
  }
  state.SetLabel("decoded " + std::to_string(jobs));
}
BENCHMARK(BM_ReadListWithStrip)->Unit(benchmark::kMillisecond)->Iterations(50);

// Without the strip: rows at once, every picture drawn by the worker while
// a 10 ms heartbeat runs what it posts.
void BM_DrawFiftyThumbnails(benchmark::State& state) {
  if (!ready(state)) return;
  double rows_ms = 0, late = 0;
  for (auto _ : state) {
    const auto t = Clock::now();
    VideoClipboard board(&MpegEditorAdapter::from_clip);
    board.read_project_list(saved().list, "");
    rows_ms = ms_since(t);
    auto next = Clock::now();
    while (board.pending() > 0) {
      next += std::chrono::milliseconds(10);
      std::this_thread::sleep_until(next);
      late = std::max(late, std::chrono::duration<double, std::milli>(Clock::now() - next).count());
      run_posted();
    }
  }
  state.SetLabel("rows " + std::to_string(rows_ms) + " ms, heartbeat late " + std::to_string(late) + " ms");
}
BENCHMARK(BM_DrawFiftyThumbnails)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// What the worker cannot beat: 50 editors at half size, each moved exactly
// to its clip's picture.
void BM_FiftyExactSearches(benchmark::State& state) {
  if (!ready(state)) return;
  for (auto _ : state)
    for (const EClip& c : saved().clips) {
      auto editor = MpegEditorAdapter::from_clip(c, 1);
      editor->set_bmp_depth(24);
      benchmark::DoNotOptimize(editor->search(clip_thumbnail_frame(c), 1));
    }
}
BENCHMARK(BM_FiftyExactSearches)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The resident memory 500 rows add.
void BM_FiveHundredRows(benchmark::State& state) {
  if (!ready(state)) return;
  long grown = 0;
  for (auto _ : state) {
    VideoClipboard board(&MpegEditorAdapter::from_clip);
    draw_nothing(&board);
    const long before = rss_kib();
    for (int i = 0; i < 500; ++i) board.add_clip(saved().clips[size_t(i % 50)], nullptr);
    grown = rss_kib() - before;
  }
  state.SetLabel("rss " + std::to_string(double(grown) / 1024) + " MiB");
}
BENCHMARK(BM_FiveHundredRows)->Unit(benchmark::kMillisecond)->Iterations(1);

// Files added to the Video Clip List, each looked at for the first time.
void BM_ClipListAddFiles(benchmark::State& state) {
  const char* dir = std::getenv("TAMSEL_BENCH_DIR");
  if (!dir || !*dir) {
    state.SkipWithError("TAMSEL_BENCH_DIR not set");
    return;
  }
  std::vector<std::string> files;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(std::string(dir) + "/" + e->d_name);
    closedir(d);
  }
  int added = 0;
  for (auto _ : state) {
    VideoClipListModel list;
    for (const std::string& f : files) {
      Clip c;
      if (list.make_clip(f, &c)) {
        list.insert_clip_record(c, -1);
        ++added;
      }
    }
  }
  state.SetLabel("files " + std::to_string(files.size()) + " added " + std::to_string(added));
}
BENCHMARK(BM_ClipListAddFiles)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
