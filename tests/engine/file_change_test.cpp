// A file edited on disk while a clip list holds it: every cache keyed by the
// file answers for the new version on the next query.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "demux/goplist.h"
#include "demux/goplist_cache.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/clips/file_info.h"
#include "foundation/file_stamp.h"
#include "foundation/probe.h"
#include "support.h"

namespace {

// What the caches say about a file.
struct Facts {
  uint64_t probed_size = 0;
  double info_size = 0;
  int clip_frames = 0;
  int index_frames = 0;
};

Facts facts_of(const std::string& path) {
  Facts f;
  if (auto rec = MPEGFileList::instance().find(path.c_str())) f.probed_size = rec->size.value();
  FileInfoFacade info;
  if (info.open(path.c_str()) == 0) f.info_size = info.info()->file_size;
  if (MPEG_Clip* c = mpeg_clip_of_file(path.c_str(), 0, 0)) {
    f.clip_frames = c->video_frame_total;
    mpeg_clip_list_free(c);
  }
  auto list = std::make_unique<GOPList>();
  if (GoplistCache::take_from_cache(list.get(), path.c_str(), 0, 0) == 0) f.index_frames = goplist_scan(list.get(), 0, 0);
  return f;
}

void set_mtime(const std::string& path, time_t sec) {
  const struct timespec t[2] = {{sec, 0}, {sec, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

// Offset of the sequence header that starts the middle GOP.
size_t middle_sequence_start(const std::vector<uint8_t>& s) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 4 <= s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xB3) at.push_back(i);
  return at.size() < 3 ? 0 : at[at.size() / 2];
}

}  // namespace

TEST(FileChange, ShorterFileUnderAnOpenClipListAnswersAfterForget) {
  const std::string path = tsupport::temp_dir() + "/movie.m2v";
  const std::vector<uint8_t> whole = tsupport::read_file(tsupport::fixture("clips_v.m2v"));
  const size_t cut = middle_sequence_start(whole);
  ASSERT_GT(cut, 0u) << "the fixture needs several GOPs";
  ASSERT_TRUE(tsupport::write_file(path, whole));
  set_mtime(path, 1000000000);
  MPEG_Clip* open_list = mpeg_clip_of_file(path.c_str(), 0, 0);
  ASSERT_NE(open_list, nullptr);
  const Facts before = facts_of(path);
  EXPECT_EQ(before.probed_size, whole.size());
  EXPECT_EQ(before.info_size, double(whole.size()));
  EXPECT_EQ(before.clip_frames, open_list->video_frame_total);
  ASSERT_GT(before.clip_frames, 0);
  ASSERT_GT(before.index_frames, 0);

  // The second half blanked, size and time as before: no stamp can tell,
  // forget() must.
  std::vector<uint8_t> blanked = whole;
  std::memset(blanked.data() + cut, 0, whole.size() - cut);
  ASSERT_TRUE(tsupport::write_file(path, blanked));
  set_mtime(path, 1000000000);
  ASSERT_EQ(facts_of(path).clip_frames, before.clip_frames) << "the stamps should not see this change";
  forget(path.c_str());
  const Facts blank = facts_of(path);
  EXPECT_EQ(blank.probed_size, whole.size());
  EXPECT_LT(blank.clip_frames, before.clip_frames);
  EXPECT_GT(blank.clip_frames, 0);
  EXPECT_LT(blank.index_frames, before.index_frames);

  // Shorter, same modification time: the size alone tells.
  const std::vector<uint8_t> half(whole.begin(), whole.begin() + long(cut));
  ASSERT_TRUE(tsupport::write_file(path, half));
  set_mtime(path, 1000000000);
  const Facts shorter = facts_of(path);
  EXPECT_EQ(shorter.probed_size, half.size());
  EXPECT_EQ(shorter.info_size, double(half.size()));
  EXPECT_EQ(shorter.clip_frames, blank.clip_frames);
  EXPECT_EQ(shorter.index_frames, blank.index_frames);

  // The list opened at the start keeps the record it was given.
  EXPECT_EQ(open_list->video_frame_total, before.clip_frames);
  mpeg_clip_list_free(open_list);
}
