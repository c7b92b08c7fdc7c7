#include "scan/decode.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

namespace ampdots {
namespace {

struct PcmRow {
  std::uint8_t bytes[3];
  double level;
  double contribution;
};

TEST(PcmDecoding, SixteenBitLevelsAndTopByteSign) {
  const PcmRow rows[] = {
      {{0xFF, 0x7F}, 127.99609375, 127.99609375},  // 32767
      {{0x00, 0x80}, -128.0, 128.0},               // -32768
      {{0xFF, 0xFF}, -0.00390625, 0.00390625},     // -1
      {{0x40, 0x00}, 0.25, -0.25},                 // top byte 0 is subtracted
      {{0x00, 0x01}, 1.0, 1.0},
      {{0x00, 0x00}, 0.0, -0.0},
  };
  for (const PcmRow& row : rows) {
    const Level got = DecodePcm16(row.bytes);
    EXPECT_EQ(got.level, row.level) << int{row.bytes[1]} << " " << int{row.bytes[0]};
    EXPECT_EQ(got.contribution, row.contribution) << int{row.bytes[1]} << " " << int{row.bytes[0]};
  }
}

TEST(PcmDecoding, TwentyFourBitLevelsAndTopByteSign) {
  const PcmRow rows[] = {
      {{0xFF, 0xFF, 0x7F}, 127.9999847412109375, 127.9999847412109375},  // 8388607
      {{0x00, 0x00, 0x80}, -128.0, 128.0},                               // -8388608
      {{0x80, 0x00, 0x01}, 1.001953125, 1.001953125},                    // 65664
      {{0xFF, 0xFF, 0x00}, 0.9999847412109375, -0.9999847412109375},
      {{0xFF, 0xFF, 0xFF}, -1.0 / 65536, 1.0 / 65536},
  };
  for (const PcmRow& row : rows) {
    const Level got = DecodePcm24(row.bytes);
    EXPECT_EQ(got.level, row.level) << int{row.bytes[2]};
    EXPECT_EQ(got.contribution, row.contribution) << int{row.bytes[2]};
  }
}

TEST(PcmDecoding, EightBitIsUnsignedAroundHalfway) {
  const PcmRow rows[] = {
      {{0x00}, -128.0, 128.0},  // the lowest value adds its magnitude
      {{0x80}, 0.0, -0.0},      // silence
      {{0x81}, 1.0, 1.0},      {{0x7F}, -1.0, 1.0}, {{0xFF}, 127.0, 127.0},
  };
  for (const PcmRow& row : rows) {
    const Level got = DecodePcm8(row.bytes);
    EXPECT_EQ(got.level, row.level) << int{row.bytes[0]};
    EXPECT_EQ(got.contribution, row.contribution) << int{row.bytes[0]};
  }
}

TEST(PcmDecoding, ThirtyTwoBitIntegerLevelsAndTopByteSign) {
  struct Row {
    std::uint8_t bytes[4];
    double level;
    double contribution;
  };
  const double lsb = std::ldexp(1.0, -24);
  const Row rows[] = {
      {{0xFF, 0xFF, 0xFF, 0x7F}, 128.0 - lsb, 128.0 - lsb},  // 2^31 - 1
      {{0x00, 0x00, 0x00, 0x80}, -128.0, 128.0},             // -2^31
      {{0x00, 0x00, 0x00, 0x01}, 1.0, 1.0},                  // 2^24: top byte 1 adds
      {{0xFF, 0xFF, 0xFF, 0x00}, 1.0 - lsb, lsb - 1.0},      // top byte 0 is subtracted
      {{0x01, 0x00, 0x00, 0x00}, lsb, -lsb},
      {{0xFF, 0xFF, 0xFF, 0xFF}, -lsb, lsb},
      {{0x00, 0x00, 0x40, 0x00}, 0.25, -0.25},
  };
  for (const Row& row : rows) {
    const Level got = DecodePcm32(row.bytes);
    EXPECT_EQ(got.level, row.level) << std::hex << int{row.bytes[3]} << " " << int{row.bytes[0]};
    EXPECT_EQ(got.contribution, row.contribution) << std::hex << int{row.bytes[3]};
  }
}

// G.711's published expansions to 16-bit values: the first and last code of
// every segment (exponent), both signs.
TEST(G711Decoding, MuLawSegmentsAndSigns) {
  const struct {
    std::uint8_t byte;
    std::int32_t value;
  } rows[] = {
      {0x00, -32124}, {0x0F, -16764}, {0x10, -15996}, {0x20, -7932}, {0x30, -3900}, {0x40, -1884},
      {0x50, -876},   {0x60, -372},   {0x70, -120},   {0x7E, -8},    {0x7F, 0},     {0x80, 32124},
      {0x8F, 16764},  {0x90, 15996},  {0xA0, 7932},   {0xB0, 3900},  {0xC0, 1884},  {0xD0, 876},
      {0xE0, 372},    {0xF0, 120},    {0xFE, 8},      {0xFF, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(MuLawValue(row.byte), row.value) << std::hex << int{row.byte};
    const Level got = DecodeMuLaw(&row.byte);
    EXPECT_EQ(got.level, row.value / 256.0) << std::hex << int{row.byte};
  }
}

TEST(G711Decoding, ALawSegmentsAndSigns) {
  const struct {
    std::uint8_t byte;
    std::int32_t value;
  } rows[] = {
      // From the published table's start, and its extremes.
      {0x00, -5504},
      {0x01, -5248},
      {0x02, -6016},
      {0x10, -2752},
      {0x20, -22016},
      {0x40, -344},
      {0x2A, -32256},
      {0xAA, 32256},
      {0x80, 5504},
      {0xDA, 248},
      // The first code of every segment, negative then positive.
      {0x55, -8},
      {0x45, -264},
      {0x75, -528},
      {0x65, -1056},
      {0x15, -2112},
      {0x05, -4224},
      {0x35, -8448},
      {0x25, -16896},
      {0xD5, 8},
      {0xC5, 264},
      {0xF5, 528},
      {0xE5, 1056},
      {0x95, 2112},
      {0x85, 4224},
      {0xB5, 8448},
      {0xA5, 16896},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ALawValue(row.byte), row.value) << std::hex << int{row.byte};
  }
}

TEST(G711Decoding, ContributionBySixteenBitTopByte) {
  // A-law 0xD5 is +8 (top byte 0: subtracted); 0x55 is -8 (top byte 0xFF:
  // added); 0xC5 is +264 (top byte 1: added).
  const std::uint8_t plus8 = 0xD5, minus8 = 0x55, plus264 = 0xC5;
  EXPECT_EQ(DecodeALaw(&plus8).contribution, -8 / 256.0);
  EXPECT_EQ(DecodeALaw(&minus8).contribution, 8 / 256.0);
  EXPECT_EQ(DecodeALaw(&plus264).contribution, 264 / 256.0);
}

TEST(Float32Decoding, KnownPatterns) {
  struct Row {
    std::uint8_t b[4];
    double level;
  };
  const Row rows[] = {
      {{0x00, 0x00, 0x80, 0x3F}, 128.0},                   // 1.0
      {{0x00, 0x00, 0x00, 0x3F}, 64.0},                    // 0.5
      {{0x00, 0x00, 0xC0, 0x3F}, 192.0},                   // 1.5
      {{0x00, 0x00, 0x80, 0xBF}, -128.0},                  // -1.0
      {{0x00, 0x00, 0x40, 0xBF}, -96.0},                   // -0.75
      {{0x00, 0x00, 0x00, 0x00}, std::ldexp(1.0, -120)},   // +0.0 keeps the leading 1
      {{0x00, 0x00, 0x00, 0x80}, -std::ldexp(1.0, -120)},  // -0.0
      {{0x01, 0x00, 0x00, 0x00}, std::ldexp(2.0 + std::ldexp(1.0, -22), -121)},  // subnormal
      {{0x00, 0x00, 0x80, 0x7F}, std::ldexp(1.0, 135)},                          // +infinity
      {{0x00, 0x00, 0x80, 0xFF}, -std::ldexp(1.0, 135)},                         // -infinity
      {{0x00, 0x00, 0xC0, 0x7F}, std::ldexp(3.0, 134)},  // quiet not-a-number
      {{0xFF, 0xFF, 0x7F, 0x7F}, 128.0 * FLT_MAX},       // largest finite
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Float32Convert(row.b[0], row.b[1], row.b[2], row.b[3]), row.level)
        << std::hex << int{row.b[3]} << " " << int{row.b[2]};
  }
  // Only the low 8 bits of each argument count: signed bytes read the same.
  EXPECT_EQ(Float32Convert(0, 0, -128, 0x3F), 128.0);
  EXPECT_EQ(Float32Convert(0x100, 0x200, 0x180, 0x13F), 128.0);
}

TEST(Float32Decoding, EveryNormalNumberIs128TimesItsValue) {
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) {
    std::uint32_t bits = static_cast<std::uint32_t>(random());
    const std::uint32_t exponent = (bits >> 23) & 0xFF;
    if (exponent == 0 || exponent == 255) continue;
    float value;
    std::memcpy(&value, &bits, 4);
    ASSERT_EQ(Float32Convert(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                             static_cast<int>((bits >> 16) & 0xFF), static_cast<int>(bits >> 24)),
              128.0 * static_cast<double>(value))
        << std::hex << bits;
  }
}

TEST(Float32Decoding, ContributionIsSignedByTheLevel) {
  EXPECT_EQ(FloatContribution(-96.0), 96.0);
  EXPECT_EQ(FloatContribution(0.25), 0.25);  // unlike PCM, small positives add
  const std::uint8_t half[] = {0x00, 0x00, 0x00, 0xBF};
  EXPECT_EQ(DecodeFloat32(half).contribution, 64.0);
}

// Eight bytes, least significant first, whatever the host's order.
Level Double(std::uint64_t bits) {
  std::uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  return DecodeFloat64(b);
}

TEST(Float64Decoding, LevelIs128TimesTheValue) {
  const struct {
    std::uint64_t bits;
    double level;
    double contribution;
  } rows[] = {
      {0x3FF0000000000000, 128.0, 128.0},                                    // 1.0
      {0xBFE0000000000000, -64.0, 64.0},                                     // -0.5
      {0x0000000000000001, std::ldexp(1.0, -1067), std::ldexp(1.0, -1067)},  // 2^-1074
      {0x0000000000000000, 0.0, 0.0},
      {0x7FF0000000000000, HUGE_VAL, HUGE_VAL},
      {0xFFF0000000000000, -HUGE_VAL, HUGE_VAL},
      {0x7FEFFFFFFFFFFFFF, HUGE_VAL, HUGE_VAL},  // the largest double overflows when scaled
  };
  for (const auto& row : rows) {
    const Level l = Double(row.bits);
    EXPECT_EQ(l.level, row.level) << std::hex << row.bits;
    EXPECT_EQ(l.contribution, row.contribution) << std::hex << row.bits;
  }
  const Level nan = Double(0x7FF8000000000000);
  EXPECT_TRUE(std::isnan(nan.level));
  EXPECT_TRUE(std::isnan(nan.contribution));
}

}  // namespace
}  // namespace ampdots
