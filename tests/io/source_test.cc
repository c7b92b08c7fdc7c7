#include "io/source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <numeric>
#include <vector>

#include "io/mapping.h"
#include "io/stream.h"
#include "support/scratch_dir.h"

namespace ampdots {
namespace {

std::vector<std::uint8_t> Counting(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

TEST(StreamSource, ReadsForwardKeepingItsHeadAndTail) {
  const std::vector<std::uint8_t> bytes = Counting(100000);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{4095}}) {
    SCOPED_TRACE(piece);
    Source s;
    MemoryStream(bytes, piece, s);
    std::uint8_t got[300];
    ASSERT_EQ(ReadAt(s, 0, got, 10), 10u);
    EXPECT_EQ(got[9], 9);
    EXPECT_EQ(SourceLength(s), kUnknownLength);
    // Skipping forward drops the bytes between; the head stays readable.
    ASSERT_EQ(ReadAt(s, 50000, got, 100), 100u);
    EXPECT_EQ(got[0], 50000 % 256);
    ASSERT_EQ(ReadAt(s, 5, got, 3), 3u);
    EXPECT_EQ(got[0], 5);
    // The last bytes taken can be read again; those before them are gone.
    ASSERT_EQ(ReadAt(s, 50100 - kStreamTailBytes, got, kStreamTailBytes + 10), 74u);
    EXPECT_EQ(got[0], (50100 - kStreamTailBytes) % 256);
    EXPECT_EQ(got[73], (50110 - 1) % 256);
    EXPECT_EQ(ReadAt(s, 30000, got, 4), 0u);
    // Reads past the end stop there, and the length is then known.
    EXPECT_EQ(ReadAt(s, 99900, got, 300), 100u);
    EXPECT_EQ(SourceLength(s), 100000u);
    EXPECT_EQ(ReadAt(s, 100000, got, 1), 0u);
  }
}

TEST(StreamSource, ShortStreamHasAKnownLength) {
  const std::vector<std::uint8_t> bytes = Counting(1000);
  Source s;
  MemoryStream(bytes, 7, s);
  std::uint8_t head[2000];
  EXPECT_EQ(ReadAt(s, 0, head, sizeof head), 1000u);
  EXPECT_EQ(SourceLength(s), 1000u);
  EXPECT_EQ(ReadAt(s, 990, head, 20), 10u);  // still in the head
  EXPECT_EQ(head[9], 999 % 256);
}

// A regular file is read where its pages lie. Cut short by another process
// after it was mapped, it ends where it ends now; and a read of a page that
// is gone ends the guarded work instead of the process.
TEST(MappedSource, FileCutShortAfterMapping) {
  const testing::ScratchDir dir;
  const std::string path = dir.Write("cut.bin", Counting(65536));
  Source source;
  ASSERT_TRUE(OpenSource(path.c_str(), source));
  MapRange(source, 100, 65536);
  std::uint8_t scratch[4096];
  const std::span<const std::uint8_t> whole = ViewAt(source, 8192, 4096, scratch);
  const MapWindow& window = source.windows[0];
  ASSERT_NE(window.at, nullptr);
  ASSERT_EQ(whole.size(), 4096u);
  EXPECT_NE(whole.data(), scratch);  // in place, not copied
  EXPECT_EQ(whole[1], (8192 + 1) % 256);

  ASSERT_EQ(truncate(path.c_str(), 10000), 0);
  EXPECT_EQ(ViewAt(source, 8192, 4096, scratch).size(), 10000u - 8192);
  EXPECT_EQ(ViewAt(source, 12000, 4096, scratch).size(), 0u);
  static const std::uint8_t* gone;
  static volatile std::uint8_t seen;
  auto touch = [] { seen = *gone; };
  gone = window.at + (40000 - window.offset);
  EXPECT_FALSE(RunGuarded(touch));
  gone = window.at + (9000 - window.offset);
  EXPECT_TRUE(RunGuarded(touch));
  EXPECT_EQ(seen, 9000 % 256);
  CloseSource(source);
}

}  // namespace
}  // namespace ampdots
