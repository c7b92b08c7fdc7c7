#include "io/bytes.h"

#include <gtest/gtest.h>

namespace ampdots {
namespace {

TEST(ByteAssembly, LeastSignificantByteFirstWhateverTheHost) {
  const std::uint8_t rate[] = {0x44, 0xAC, 0x00, 0x00};
  const std::uint8_t top[] = {0x00, 0x00, 0x00, 0x80};
  const std::uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
  const std::uint8_t mixed[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(Assem4(rate), 44100u);
  EXPECT_EQ(Assem4(top), 0x80000000u);  // the top bit must not go through a signed int
  EXPECT_EQ(Assem4(ones), 0xFFFFFFFFu);
  EXPECT_EQ(Assem4(mixed), 0x04030201u);
  EXPECT_EQ(Assem2(mixed), 0x0201u);
  EXPECT_EQ(Assem2(ones), 0xFFFFu);
  EXPECT_EQ(Assem3(top + 1), 0x800000u);
  const std::uint8_t wide[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(Assem8(wide), 0x8807060504030201u);
}

}  // namespace
}  // namespace ampdots
