#include "wav/probe.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/wav_builder.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::Format;
using testing::WavBuilder;

ProbeResult Probe(const Bytes& file) { return ProbeHeader(file, file.size()); }

const Format kStereo16{2, 44100, 16, 1};
const Bytes kTenFrames(40, 0x11);

TEST(Probe, CanonicalHeader) {
  const ProbeResult r = Probe(testing::CanonicalWav(kStereo16, kTenFrames));
  EXPECT_EQ(r.status, ProbeStatus::kOk);
  EXPECT_TRUE(r.formatTagFound);
  EXPECT_EQ(r.attributes.sampleRate, 44100u);
  EXPECT_EQ(r.attributes.bytesPerSample, 2u);
  EXPECT_EQ(r.attributes.channels, 2u);
  EXPECT_EQ(r.attributes.dataOffset, 44u);
  EXPECT_EQ(r.attributes.frameCount, 10u);
}

TEST(Probe, TagsFoundPastOtherChunks) {
  // LIST after fmt: data at 36 + 8 + 26 = 70.
  const Bytes list =
      WavBuilder().Fmt(kStereo16).Chunk("LIST", Bytes(26, 'x')).Data(kTenFrames).Finish();
  EXPECT_EQ(Probe(list).attributes.dataOffset, 78u);
  EXPECT_EQ(Probe(list).attributes.frameCount, 10u);
  // Extensible fmt chunk of 40 bytes: data at 12 + 8 + 40 = 60.
  const Bytes ext = WavBuilder().Fmt({1, 48000, 24, 1}, true).Data(Bytes(9, 0)).Finish();
  EXPECT_EQ(Probe(ext).attributes.dataOffset, 68u);
  EXPECT_EQ(Probe(ext).attributes.bytesPerSample, 3u);
  EXPECT_EQ(Probe(ext).attributes.frameCount, 3u);
  // The first even match wins, even inside another chunk's text.
  const Bytes decoy = WavBuilder()
                          .Fmt(kStereo16)
                          .Chunk("LIST", {'d', 'a', 't', 'a', 0, 0, 0, 0})
                          .Data(kTenFrames)
                          .Finish();
  EXPECT_EQ(Probe(decoy).attributes.dataOffset, 44u + 8);
}

// A canonical file whose data tag is moved to `at`, the gap filled with 'x'.
Bytes DataTagAt(std::size_t at) {
  Bytes file = WavBuilder().Fmt(kStereo16).Finish();
  file.resize(at, 'x');
  testing::PutTag(file, "data");
  testing::PutLe32(file, 8);
  file.insert(file.end(), 8, 0);
  return file;
}

TEST(Probe, OnlyEvenCandidatesUpTo15000) {
  EXPECT_EQ(Probe(DataTagAt(15000)).attributes.dataOffset, 15008u);
  EXPECT_EQ(Probe(DataTagAt(15000)).attributes.frameCount, 2u);
  EXPECT_EQ(Probe(DataTagAt(15002)).status, ProbeStatus::kNoDataTag);
  EXPECT_EQ(Probe(DataTagAt(37)).status, ProbeStatus::kNoDataTag);
  Bytes fmtAtZero = testing::CanonicalWav(kStereo16, kTenFrames);
  std::memcpy(fmtAtZero.data(), "fmt ", 4);             // offset 0 is never a candidate...
  EXPECT_EQ(Probe(fmtAtZero).attributes.channels, 2u);  // ...so fmt at 12 still wins
}

TEST(Probe, MissingFormatTagReadsFieldsAt15000) {
  Bytes file = DataTagAt(100);
  std::memcpy(file.data() + 12, "FMT ", 4);
  file.resize(15024, 0);
  file[15010] = 1;     // channels
  file[15012] = 0x40;  // sample rate 8000
  file[15013] = 0x1F;
  file[15022] = 16;  // bits per sample
  const ProbeResult r = Probe(file);
  EXPECT_FALSE(r.formatTagFound);
  EXPECT_EQ(r.status, ProbeStatus::kOk);
  EXPECT_EQ(r.attributes.sampleRate, 8000u);
  EXPECT_EQ(r.attributes.channels, 1u);
  EXPECT_EQ(r.attributes.bytesPerSample, 2u);
  // In a short file those fields lie past the end and read as zero.
  file.resize(200);
  EXPECT_EQ(Probe(file).status, ProbeStatus::kZeroWidthFrame);
}

TEST(Probe, SampleWidthIsBitsOver8WhateverTheFormatCode) {
  const std::uint32_t bits[] = {32, 24, 20, 16, 12, 8, 7};
  const std::uint32_t bytes[] = {4, 3, 2, 2, 1, 1, 0};
  for (int i = 0; i < 7; ++i) {
    const Bytes file = testing::CanonicalWav({1, 8000, bits[i], 1}, Bytes(8, 0));
    EXPECT_EQ(Probe(file).attributes.bytesPerSample, bytes[i]) << bits[i];
  }
  EXPECT_EQ(Probe(testing::CanonicalWav({0, 8000, 16, 1}, {})).status,
            ProbeStatus::kZeroWidthFrame);
}

TEST(Probe, DeclaredSizeNeverTrustedOverTheFile) {
  const Bytes zero = WavBuilder().Fmt(kStereo16).Data(kTenFrames, 0).Finish();
  EXPECT_EQ(Probe(zero).attributes.frameCount, 0u);
  const Bytes huge = WavBuilder().Fmt(kStereo16).Data(kTenFrames, 0xFFFFFFFF).Finish();
  EXPECT_EQ(Probe(huge).attributes.frameCount, 10u);
  // A data tag in the last bytes puts the frames past the end: none.
  Bytes atEnd = WavBuilder().Fmt(kStereo16).Finish();
  testing::PutTag(atEnd, "data");
  atEnd.push_back(0xFF);
  EXPECT_EQ(Probe(atEnd).attributes.dataOffset, 44u);
  EXPECT_EQ(Probe(atEnd).attributes.frameCount, 0u);
}

TEST(Probe, TruncationSweepNeverGrowsTheFrameCount) {
  const Bytes file = testing::CanonicalWav({2, 48000, 24, 1}, Bytes(6 * 50, 0x22));
  std::uint32_t previous = 50;
  for (std::size_t length = file.size(); length-- > 0;) {
    const ProbeResult r = ProbeHeader(std::span(file.data(), length), length);
    if (length < 40) {  // the data tag itself is cut
      EXPECT_EQ(r.status, ProbeStatus::kNoDataTag) << length;
      continue;
    }
    ASSERT_EQ(r.status, ProbeStatus::kOk) << length;
    EXPECT_EQ(r.attributes.frameCount, length > 44 ? (length - 44) / 6 : 0) << length;
    EXPECT_LE(r.attributes.frameCount, previous);
    previous = r.attributes.frameCount;
  }
}

}  // namespace
}  // namespace ampdots
