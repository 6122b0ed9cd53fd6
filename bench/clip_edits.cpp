// Working clip list: 10,000 random copy, cut and paste edits on a list of
// ranges from three files, with transitions (the editor's own speed, no
// peer: the target is 10,000 edits well under 2 s).
#include <benchmark/benchmark.h>

#include <random>

#include "engine/clips/clip_list.h"

namespace {

MPEG_Clip* start_list(std::mt19937& rng) {
  static const char* const files[] = {"/m/a.m2v", "/m/b.m2v", "/m/c.m2v"};
  MPEG_Clip* head = nullptr;
  for (int i = 0; i < 40; ++i) {
    auto* c = new MPEG_Clip;
    c->clip_type = 3;
    c->set_file_name(files[rng() % 3]);
    c->start = int(rng() % 5000);
    c->count = 20 + int(rng() % 200);
    c->video_stream_count = 1;
    c->frame_rate = 25;
    if (i && rng() % 2) {
      c->transition_id = 4;
      c->transition_length = 1 + int(rng() % 15);
    }
    MPEG_Clip* tail = clip_list_tail(head);
    clip_list_link(&head, &tail, c);
  }
  return clip_update(head);
}

void BM_RandomEdits(benchmark::State& state) {
  for (auto _ : state) {
    std::mt19937 rng(1);
    MPEG_Clip* list = start_list(rng);
    MPEG_Clip* board = nullptr;
    for (int i = 0; i < 10000; ++i) {
      const int total = mpeg_clip_list_total_frames(list, 0);
      const int s = int(rng() % unsigned(total)), n = 1 + int(rng() % 60);
      switch (rng() % 3) {
        case 0:
          mpeg_clip_list_free(board);
          board = clip_copy(list, s, n);
          break;
        case 1:
          if (total > 200) list = clip_cut(list, s, n);
          break;
        default:
          if (board) list = clip_insert(list, clip_list_duplicate(board), s, 0, 0);
      }
    }
    benchmark::DoNotOptimize(list);
    state.counters["records"] = clip_list_count(list);
    mpeg_clip_list_free(list);
    mpeg_clip_list_free(board);
  }
}
BENCHMARK(BM_RandomEdits)->Unit(benchmark::kMillisecond);

}  // namespace
