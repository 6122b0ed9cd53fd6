#include "foundation/file_stamp.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

void set_mtime(const std::string& path, time_t sec, long nsec) {
  const struct timespec t[2] = {{sec, nsec}, {sec, nsec}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

}  // namespace

TEST(FileStamp, RealPathSizeAndTime) {
  const std::string dir = tsupport::temp_dir();
  const std::string file = dir + "/a.mpg";
  ASSERT_TRUE(tsupport::write_file(file, std::vector<uint8_t>(100, 1)));
  set_mtime(file, 1000000000, 5);
  ASSERT_EQ(symlink(file.c_str(), (dir + "/link.mpg").c_str()), 0);
  const auto s = FileStamp::of((dir + "/./link.mpg").c_str());
  ASSERT_TRUE(s);
  char real[4096];
  ASSERT_NE(realpath(file.c_str(), real), nullptr);
  EXPECT_EQ(s->path, real);
  EXPECT_EQ(s->size, 100u);
  EXPECT_EQ(s->mtime_ns, 1000000000LL * 1000000000 + 5);
  set_mtime(file, 1000000000, 6);
  EXPECT_NE(*FileStamp::of(file.c_str()), *s);

  EXPECT_FALSE(FileStamp::of((dir + "/none.mpg").c_str()));
  EXPECT_FALSE(FileStamp::of(""));
  EXPECT_FALSE(FileStamp::of(nullptr));
  // A file that is gone still has a path to forget.
  char real_dir[4096];
  ASSERT_NE(realpath(dir.c_str(), real_dir), nullptr);
  EXPECT_EQ(FileStamp::real_path((dir + "/sub/../none.mpg").c_str()), std::string(real_dir) + "/none.mpg");
}

TEST(StampedCache, AnswersOnlyTheStampedVersionAndForgetReachesEveryCache) {
  const std::string file = tsupport::temp_dir() + "/b.mpg";
  ASSERT_TRUE(tsupport::write_file(file, std::vector<uint8_t>(10, 0)));
  StampedCache<int> numbers;
  StampedCache<std::string> words;
  const FileStamp s = *FileStamp::of(file.c_str());
  EXPECT_FALSE(numbers.find(s));
  numbers.put(s, 7);
  words.put(s, "seven");
  EXPECT_EQ(numbers.find(s), 7);

  // Another version of the file: the entry is stale and goes.
  FileStamp later = s;
  later.mtime_ns += 1;
  EXPECT_FALSE(numbers.find(later));
  EXPECT_EQ(numbers.count(), 0);
  numbers.put(later, 8);
  numbers.put(later, 9);  // replaced, not added
  EXPECT_EQ(numbers.count(), 1);

  forget(file.c_str());
  EXPECT_EQ(numbers.count(), 0);
  EXPECT_EQ(words.count(), 0);
  // Deleted files are forgotten by the name they had.
  words.put(s, "again");
  ASSERT_EQ(unlink(file.c_str()), 0);
  forget(file.c_str());
  EXPECT_EQ(words.count(), 0);
}

TEST(StampedCache, ConcurrentFindPutAndForget) {
  const std::string dir = tsupport::temp_dir();
  std::vector<FileStamp> stamps;
  for (int i = 0; i < 4; ++i) {
    const std::string f = dir + "/c" + std::to_string(i) + ".mpg";
    ASSERT_TRUE(tsupport::write_file(f, std::vector<uint8_t>(size_t(i + 1), 0)));
    stamps.push_back(*FileStamp::of(f.c_str()));
  }
  StampedCache<std::vector<int>> cache;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 300; ++k) {
        const FileStamp& s = stamps[size_t((t + k) % 4)];
        if (auto v = cache.find(s))
          EXPECT_EQ(v->size(), s.size);
        else
          cache.put(s, std::vector<int>(s.size, t));
        if (k % 50 == t) forget(s.path.c_str());
      }
    });
  // Caches made and dropped meanwhile register and unregister safely.
  threads.emplace_back([] {
    for (int k = 0; k < 100; ++k) StampedCache<int> passing;
  });
  for (auto& th : threads) th.join();
  EXPECT_LE(cache.count(), 4);
}
