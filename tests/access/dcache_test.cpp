// The frame cache on real GOPs: pool growth, references decoded once per
// load, refused inputs, picture stamps.
#include <gtest/gtest.h>

#include <memory>

#include "access/dcache.h"
#include "demux/goplist.h"
#include "support/support.h"

namespace {

using namespace tsupport;

struct Loaded {
  std::unique_ptr<GOPList> index;
  std::unique_ptr<DCache> cache;
  bool open(const std::string& file, int frame) {
    index = std::make_unique<GOPList>(file.c_str());
    if (!index->is_open() || index->build_index()) return false;
    int err = 1;
    cache = std::make_unique<DCache>(&index->get_seqhdr(), &err, 0);
    if (err) return false;
    if (index->get_gop(frame, cache->gop.get(), 1, 1) < 0) return false;
    return cache->reset(nullptr) == 0;
  }
};

TEST(DCache, PoolGrowsToTheReferencesAndDecodesEachOnce) {
  Loaded l;
  ASSERT_TRUE(l.open(fixture("fa_long.m2v"), 100));
  DCache& c = *l.cache;
  int refs = 0;
  for (int i = 0; i < c.gop->pic_count; ++i) refs += c.gop->get_pic_type(i) != 3;
  ASSERT_EQ(c.gop->pic_count, 15);
  ASSERT_EQ(refs, 5);
  EXPECT_EQ(c.references, 5);
  EXPECT_EQ(int(c.pool.size()), 0) << "frames are made as references are decoded";
  EXPECT_DOUBLE_EQ(c.get_mean_quant(), 3.0);

  EXPECT_EQ(c.decoder_all_ip_frames(2), 1);
  EXPECT_EQ(int(c.pool.size()), 1);
  EXPECT_EQ(c.decoder_all_ip_frames(0), 5);
  EXPECT_EQ(int(c.pool.size()), 5);
  std::unique_ptr<Frame> one(c.make_frame());
  ASSERT_TRUE(one);
  EXPECT_EQ(c.pool_bytes(), 5 * one->image()->buffer_size());
  EXPECT_EQ(c.get_decode_count(), 5);
  EXPECT_EQ(c.all_decoded, 1);
  EXPECT_EQ(c.decoder_all_ip_frames(0), 5);
  EXPECT_EQ(c.get_decode_count(), 5) << "a second call decodes nothing";
  // A reset into the same GOP keeps its decoded references.
  ASSERT_EQ(c.reset(nullptr), 0);
  c.decoder_all_ip_frames(0);
  EXPECT_EQ(c.get_decode_count(), 5);
  EXPECT_EQ(c.count_frames(c.gop->pic_count), 5);
}

TEST(DCache, RefusesBPicturesWithoutBothReferences) {
  Loaded l;
  ASSERT_TRUE(l.open(fixture("fa_long.m2v"), 100));
  DCache& c = *l.cache;
  c.decoder_all_ip_frames(0);
  int b = 0;
  while (c.gop->get_pic_type(b) != 3) ++b;
  std::unique_ptr<Frame> out(c.make_frame());
  const int before = c.get_decode_count();
  TraceCapture trace;
  c.pic_index = b;
  c.decode_one_frame(out.get(), c.pool_frame(0), nullptr, 0);
  EXPECT_EQ(c.get_decode_count(), before);
  EXPECT_TRUE(trace.contains("ERROR (DCache::decode_one_frame): invalid input(s)\n"));
  c.decode_one_frame(out.get(), c.pool_frame(0), c.pool_frame(1), 0);
  EXPECT_EQ(c.get_decode_count(), before + 1);
  EXPECT_EQ(out->picture_coding_type(), 3);
  EXPECT_EQ(out->stream_frame(), c.gop->get_pic_stream_frame(b));
}

TEST(DCache, PoolThatCannotGrowFailsTheLoad) {
  Loaded l;
  ASSERT_TRUE(l.open(fixture("fa_long.m2v"), 0));
  GOPList& index = *l.index;
  // Regression: a reference used to be decoded over the pool's last frame,
  // which later pictures still predicted from.
  int err = 1;
  DCache capped(&index.get_seqhdr(), &err, 0);
  ASSERT_EQ(err, 0);
  capped.max_pool = 4;
  ASSERT_GE(index.get_gop(100, capped.gop.get(), 1, 1), 0);
  TraceCapture trace;
  EXPECT_EQ(capped.reset(nullptr), 1);
  EXPECT_FALSE(capped.loaded());
  EXPECT_EQ(capped.decoder_all_ip_frames(0), 0);
  EXPECT_EQ(capped.get_decode_count(), 0);
  EXPECT_TRUE(trace.contains("DCache::reset (ERROR): cannot grow the pool to 5 frames\n"));
}

// Regression: a damaged header claiming 16383 x 16383 made every cache
// allocate gigabytes before a picture was decoded. The cache refuses the
// size before its decoder or any frame exists.
TEST(DCache, RefusesPictureSizesBeyondEveryLevel) {
  GOPList index(fixture("size_16383.m2v").c_str());
  ASSERT_TRUE(index.is_open());
  ASSERT_EQ(index.get_seqhdr().get_horizontal_size(), 16383);
  TraceCapture trace;
  int err = 0;
  DCache c(&index.get_seqhdr(), &err, 0);
  EXPECT_EQ(err, 1);
  EXPECT_FALSE(c.decoder);
  EXPECT_EQ(c.pool_bytes(), 0u);
  EXPECT_TRUE(trace.contains("DCache::setup (ERROR): picture size 16383 x 16383 is beyond every MPEG level\n"));
  struct Case {
    int w, h;
    bool ok;
  } cases[] = {{4096, 4096, true}, {4097, 16, false}, {16, 4097, false}, {0, 16, false}, {1, 1, true}};
  for (const auto& t : cases) EXPECT_EQ(mpeg_picture_size_ok(t.w, t.h), t.ok) << t.w << " x " << t.h;
}

// The sequence header in front of a GOP decides its pool's geometry: after
// a first header claiming 4095 x 4095, the later GOPs' repeated headers give
// 352 x 288 frames again.
TEST(DCache, PoolFollowsTheSequenceHeaderOfItsGop) {
  Loaded l;
  ASSERT_TRUE(l.open(fixture("size_4095.m2v"), 0));
  DCache& c = *l.cache;
  EXPECT_EQ(c.pool_width, 4095);
  c.decoder_all_ip_frames(1);
  ASSERT_EQ(int(c.pool.size()), 1);
  EXPECT_EQ(c.pool_frame(0)->padded_width(), 4096);
  ASSERT_GE(l.index->get_gop(40, c.gop.get(), 1, 1), 0);
  ASSERT_EQ(c.reset(nullptr), 0);
  EXPECT_EQ(c.pool_width, 352);
  EXPECT_EQ(c.pool_height, 288);
  c.decoder_all_ip_frames(0);
  c.drop_retired();
  std::unique_ptr<Frame> one(c.make_frame());
  ASSERT_TRUE(one);
  EXPECT_EQ(one->padded_width(), 352);
  EXPECT_EQ(c.pool_bytes(), size_t(c.references) * one->image()->buffer_size());
}

TEST(DCache, StampsRepeatedFields) {
  Loaded l;
  ASSERT_TRUE(l.open(fixture("pd.m2v"), 0));
  DCache& c = *l.cache;
  c.decoder_all_ip_frames(0);
  bool three = false;
  for (int k = 0; k < c.decoded; ++k) {
    Frame* f = c.pool_frame(k);
    EXPECT_EQ(f->repeat_flag(), f->field_count() > 2 ? 1 : 0);
    three = three || f->field_count() == 3;
  }
  EXPECT_TRUE(three) << "a pulldown GOP has 3-field references";
}

}  // namespace
