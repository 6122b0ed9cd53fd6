// A forward walk over a GOP index hands out each GOP's bytes from the parse
// that found it: the same bytes a read of the indexed GOP gives, without
// reading the file a second time.
#include <gtest/gtest.h>

#include <vector>

#include "demux/goplist.h"
#include "support/support.h"

namespace {

using namespace tsupport;

struct Walked {
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<uint64_t> starts;
};

// GOP by GOP from the first, each read (read = 1).
Walked walk(GOPList* list) {
  Walked w;
  GOP g;
  int n = list->get_first_gop(&g, 1);
  for (int guard = 0; n > 0 && guard < 100000; ++guard) {
    w.bytes.emplace_back(g.data, g.data + g.valid_bytes());
    w.starts.push_back(g.start.value());
    n = list->next_gop(&g, 1);
  }
  return w;
}

TEST(GopListWalk, ParsedBytesEqualAReadOfTheIndexedGop) {
  // Elementary (one small, one large enough for the long-read buffer),
  // program and transport streams.
  for (const char* name : {"sv_open.m2v", "bench_sd.m2v", "sv_dvd.vob", "st_ts.ts"}) {
    SCOPED_TRACE(name);
    TSUPPORT_NEED_FIXTURES(name);
    GOPList first(fixture(name).c_str());
    ASSERT_TRUE(first.is_open());
    ASSERT_EQ(first.build_index(), 0);
    int known = 0;
    for (const LGOP* r = first.first(); r; r = r->next) ++known;
    const Walked parsed = walk(&first);
    ASSERT_GE(parsed.bytes.size(), 4u);
    // The walk parsed its GOPs; only records known before it are read.
    EXPECT_LE(first.get_reread_count(), known);

    // A copy of the complete index finds every GOP as a record and reads it.
    GOPList second;
    ASSERT_EQ(second.copy_list(first), 0);
    const int parses = second.get_parse_count();
    const Walked read = walk(&second);
    EXPECT_EQ(second.get_parse_count(), parses);
    EXPECT_GE(second.get_reread_count(), int(read.bytes.size()) - 1);
    ASSERT_EQ(read.bytes.size(), parsed.bytes.size());
    for (size_t i = 0; i < read.bytes.size(); ++i) {
      EXPECT_EQ(read.starts[i], parsed.starts[i]) << "GOP " << i;
      EXPECT_TRUE(read.bytes[i] == parsed.bytes[i]) << "GOP " << i << " at " << read.starts[i];
    }
  }
}

}  // namespace
