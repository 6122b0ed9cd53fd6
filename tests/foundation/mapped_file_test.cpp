// The mapped file: its bytes, the zero bytes readable behind its end (at a
// page boundary too, where a plain mapping would fault), files that cannot
// be mapped, and errors that name their cause.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/mapped_file.h"
#include "support/support.h"

namespace {

TEST(MappedFile, BytesThenZerosBehindTheEndAtEverySize) {
  const std::string dir = tsupport::temp_dir();
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  for (size_t size : {size_t{0}, size_t{1}, page - 1, page, 3 * page, 3 * page + 17}) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(0x5A ^ (i * 7));
    const std::string path = dir + "/f" + std::to_string(size);
    ASSERT_TRUE(tsupport::write_file(path, bytes));
    MappedFile m;
    int error = -1;
    ASSERT_TRUE(m.open(path.c_str(), 64, &error)) << size;
    EXPECT_EQ(error, 0);
    ASSERT_EQ(m.size(), size);
    if (size) EXPECT_EQ(std::memcmp(m.data(), bytes.data(), size), 0) << size;
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(m.data()[size + i], 0) << "byte " << i << " behind " << size;
  }
}

TEST(MappedFile, PipeIsReadAndErrorsNameTheirCause) {
  MappedFile pipe;
  int error = -1;
  const std::string dir = tsupport::temp_dir();
  const std::string fifo = dir + "/fifo";
  // the writer waits for this reader in the background, its output detached
  ASSERT_EQ(tsupport::run("mkfifo " + tsupport::sh_quote(fifo) + " && (printf abc > " + tsupport::sh_quote(fifo) +
                          ") >/dev/null 2>&1 </dev/null &"),
            0);
  ASSERT_TRUE(pipe.open(fifo.c_str(), 8, &error));
  ASSERT_EQ(pipe.size(), 3u);
  EXPECT_EQ(std::memcmp(pipe.data(), "abc\0\0\0\0\0\0\0\0", 11), 0);
  MappedFile missing, folder;
  EXPECT_FALSE(missing.open((dir + "/none").c_str(), 8, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(folder.open(dir.c_str(), 8, &error));
  EXPECT_EQ(error, EISDIR);
}

}  // namespace

namespace {

// A file cut short while mapped (a recording replaced or truncated): the
// lost pages read as zeros and the mapping says so; no SIGBUS.
TEST(MappedFile, FileThatShrinksWhileMappedIsReported) {
  const std::string path = tsupport::temp_dir() + "/shrinks.bin";
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<uint8_t> bytes(8 * page, 0x5A);
  ASSERT_TRUE(tsupport::write_file(path, bytes));
  MappedFile kept, cut;
  int error = 0;
  ASSERT_TRUE(kept.open(path.c_str(), 8, &error));
  ASSERT_EQ(::truncate(path.c_str(), long(page)), 0);
  size_t nonzero = 0;
  for (size_t i = 0; i < kept.size(); ++i) nonzero += kept.data()[i] != 0;
  EXPECT_EQ(nonzero, page);
  EXPECT_TRUE(kept.shrunk());

  ASSERT_TRUE(cut.open(path.c_str(), 8, &error));
  for (size_t i = 0; i < cut.size(); ++i) nonzero += cut.data()[i] != 0;
  EXPECT_FALSE(cut.shrunk());
}

}  // namespace
