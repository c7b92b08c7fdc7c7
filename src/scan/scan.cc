#include "scan/scan.h"

#include <algorithm>
#include <utility>

#include "scan/kernels.h"
#include "scan/line_printer.h"
#include "scan/worker.h"

namespace ampdots {
namespace {

// Intervals worth at least this many bytes of scanning are shared with the
// worker: the thread costs about two milliseconds to start and bring up to
// speed, and saves about 0.06 ms a MiB.
constexpr std::uint64_t kWorkerBytes = std::uint64_t{64} << 20;

// Lines of at most this many frames are summed sample by sample.
constexpr std::uint32_t kFineResolution = 16;

// A line's sum, added up one double at a time as the rules have it, is
// exact (and so equal to the integer sum) while every partial sum stays
// below 2^53 lowest bits: lines of fewer than 2^30 24-bit samples (2^23
// each) or 2^22 32-bit ones (2^31 each). 16-bit and one-byte samples never
// come near. Longer lines go to the reference scan.
bool LineSumIsExact(Decoder decoder, std::uint64_t samplesPerLine) {
  if (decoder == Decoder::kPcm24) return samplesPerLine < (std::uint64_t{1} << 30);
  if (decoder == Decoder::kPcm32) return samplesPerLine < (std::uint64_t{1} << 22);
  return true;
}

// A level per lowest bit of a PCM decoder's integers: a power of two, so
// multiplying by it is exact.
double PcmUnit(Decoder decoder) {
  switch (decoder) {
    case Decoder::kPcm24:
      return 1.0 / 65536;
    case Decoder::kPcm32:
      return 1.0 / 16777216;
    default:
      return 1.0 / 256;  // 16-bit, and one-byte samples as 16-bit values
  }
}

// The buffers of the one scan a process runs: fixed, and too large for the
// stack. Two of each: the worker takes one chunk while the scan's own
// thread takes the one before it.
std::uint8_t frameBuffers[2][kChunkBytes];    // frames that cannot be read in place
double magnitudeBuffers[2][kChunkBytes / 4];  // a float sample is 4 bytes
double lineLengths[2][kChunkBytes];           // a line per one-byte frame at most

std::uint32_t fixedChunkFrames = 0;  // for tests: see SetChunkFrames

// Frames a chunk holds: 192 KiB of them.
std::size_t ChunkFramesFor(std::uint32_t blockAlign) {
  return fixedChunkFrames != 0 ? fixedChunkFrames : kChunkBytes / blockAlign;
}

// Frames to read next: as many as fit, ending on a line boundary when at
// least one whole line fits, so that whole lines can be summed side by side.
std::size_t NextChunk(std::uint64_t remaining, std::uint32_t count, std::uint32_t resolution,
                      std::size_t chunkFrames) {
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, chunkFrames));
  if (resolution == 0 || resolution > chunkFrames) return want;
  const std::size_t toLineEnd = resolution - count;
  if (want > toLineEnd) want = toLineEnd + (want - toLineEnd) / resolution * resolution;
  return want;
}

// What one thread has summed: the peaks of its frames, and the sum of the
// line being built.
struct Totals {
  PcmTotals pcm;          // PCM: line sum and peaks in units of the lowest bit
  double floatSum = 0.0;  // float: line sum
  FloatPeaks floatPeaks;
};

// The line being built and the peaks of the interval so far.
struct ScanState {
  const ScanRequest* request = nullptr;
  Decoder decoder = Decoder::kNone;
  bool stereo = false;
  std::uint64_t frame = 0;  // index of the next frame to add
  std::uint32_t count = 0;  // frames in the current line
  std::size_t chunkFrames = 0;
  Totals totals;
  LinePrinter printer;
};

// The bar length of a whole line of `lineSum`.
double LineLength(const ScanRequest& r, double lineSum) {
  if (r.channels == 2) lineSum *= 0.5;
  return static_cast<double>(r.magnification) * (lineSum / r.resolution);
}

void EndLine(ScanState& state, double lineSum, Output& out) {
  // Stamped at the line's first frame + ceil(resolution / 2).
  const auto t = static_cast<std::int64_t>(state.frame - state.count / 2);
  PrintLine(state.printer, t, LineLength(*state.request, lineSum), out);
  state.count = 0;
}

void Accumulate(Decoder decoder, const std::uint8_t* bytes, std::size_t samples, bool stereo,
                PcmTotals& totals) {
  switch (decoder) {
    case Decoder::kPcm8:
      return AccumulatePcm8(bytes, samples, stereo, totals);
    case Decoder::kMuLaw:
      return AccumulateMuLaw(bytes, samples, stereo, totals);
    case Decoder::kALaw:
      return AccumulateALaw(bytes, samples, stereo, totals);
    case Decoder::kPcm16:
      return AccumulatePcm16(bytes, samples, stereo, totals);
    case Decoder::kPcm24:
      return AccumulatePcm24(bytes, samples, stereo, totals);
    default:
      return AccumulatePcm32(bytes, samples, stereo, totals);
  }
}

// A chunk of whole lines, the first starting at `bytes`: its bars are
// worked out into `lengths` before any of them is printed, by whichever
// thread takes it, with that thread's totals and magnitude buffer.
struct LineBatch {
  const ScanRequest* request;
  Decoder decoder;
  const std::uint8_t* bytes;
  std::size_t lines;
  double* lengths;
  double* magnitudes;
  Totals* totals;
};

void PcmLines(const LineBatch& b) {
  const ScanRequest& r = *b.request;
  const std::size_t perLine = std::size_t{r.resolution} * r.channels;
  const std::size_t lineBytes = std::size_t{r.resolution} * r.blockAlign;
  const double unit = PcmUnit(b.decoder);
  PcmTotals& pcm = b.totals->pcm;
  for (std::size_t j = 0; j < b.lines; ++j) {
    Accumulate(b.decoder, b.bytes + j * lineBytes, perLine, r.channels == 2, pcm);
    b.lengths[j] = LineLength(r, static_cast<double>(pcm.sum) * unit);
    pcm.sum = 0;
  }
}

// Lines of a few frames each: the vector loops would cost more to start
// than they save, so each sample is taken on its own, in integers.
template <typename Layout>
void FinePcmLines(const LineBatch& b) {
  constexpr std::size_t kWidth = Layout::kWidth;
  constexpr std::int32_t kTopByteOne = Layout::kTopByteOne;
  constexpr double kUnit = 1.0 / kTopByteOne;  // a power of two: exact as a factor
  const ScanRequest& r = *b.request;
  PcmTotals& pcm = b.totals->pcm;
  const std::uint8_t* bytes = b.bytes;
  if (r.resolution == 1 && r.channels == 1) {
    // A line per mono sample: LineLength's arithmetic for such a line,
    // written so that the loop vectorizes (the mean of one sample is itself).
    const auto magnification = static_cast<double>(r.magnification);
    std::uint32_t peak = pcm.maxLeft;
    for (std::size_t j = 0; j < b.lines; ++j) {
      const std::int32_t v = Layout::Value(bytes + j * kWidth);
      b.lengths[j] = magnification * (static_cast<double>(PcmContribution<kTopByteOne>(v)) * kUnit);
      peak = std::max(peak, PcmMagnitude(v));
    }
    pcm.maxLeft = peak;
    return;
  }
  const std::size_t perLine = std::size_t{r.resolution} * r.channels;
  for (std::size_t j = 0; j < b.lines; ++j) {
    for (std::size_t i = 0; i < perLine; ++i, bytes += kWidth) {
      AddPcmSample<kTopByteOne>(Layout::Value(bytes), r.channels == 2 && i % 2 == 1, pcm);
    }
    b.lengths[j] = LineLength(r, static_cast<double>(pcm.sum) * kUnit);
    pcm.sum = 0;
  }
}

// Sums kLines whole lines of `perLine` magnitudes each, side by side: each
// line is still summed in its own order, which fixes its rounding, but the
// additions of different lines overlap in the processor.
template <std::size_t kLines>
void SumLines(const double* magnitudes, std::size_t perLine, double* sums) {
  double s[kLines] = {};
  for (std::size_t i = 0; i < perLine; ++i) {
    for (std::size_t j = 0; j < kLines; ++j) s[j] += magnitudes[j * perLine + i];
  }
  for (std::size_t j = 0; j < kLines; ++j) sums[j] = s[j];
}

void FloatLines(const LineBatch& b) {
  const ScanRequest& r = *b.request;
  const std::size_t perLine = std::size_t{r.resolution} * r.channels;
  FloatMagnitudes(b.bytes, b.lines * perLine, r.channels == 2, b.magnitudes, b.totals->floatPeaks);
  double sums[8];
  for (std::size_t j = 0; j < b.lines;) {
    const std::size_t left = b.lines - j;
    const std::size_t n = left >= 8 ? 8 : left >= 4 ? 4 : left >= 2 ? 2 : 1;
    const double* m = b.magnitudes + j * perLine;
    if (n == 8) SumLines<8>(m, perLine, sums);
    if (n == 4) SumLines<4>(m, perLine, sums);
    if (n == 2) SumLines<2>(m, perLine, sums);
    if (n == 1) SumLines<1>(m, perLine, sums);
    for (std::size_t k = 0; k < n; ++k) b.lengths[j + k] = LineLength(r, sums[k]);
    j += n;
  }
}

void ComputeLines(const LineBatch& b) {
  const std::uint32_t resolution = b.request->resolution;
  switch (b.decoder) {
    case Decoder::kNone:
      for (std::size_t j = 0; j < b.lines; ++j) b.lengths[j] = LineLength(*b.request, 0.0);
      return;
    case Decoder::kFloat32:
      return FloatLines(b);
    default:
      break;
  }
  if (resolution > kFineResolution) return PcmLines(b);
  switch (b.decoder) {
    case Decoder::kPcm8:
      return FinePcmLines<Pcm8Layout>(b);
    case Decoder::kMuLaw:
      return FinePcmLines<MuLawLayout>(b);
    case Decoder::kALaw:
      return FinePcmLines<ALawLayout>(b);
    case Decoder::kPcm16:
      return FinePcmLines<Pcm16Layout>(b);
    case Decoder::kPcm24:
      return FinePcmLines<Pcm24Layout>(b);
    default:
      return FinePcmLines<Pcm32Layout>(b);
  }
}

LineBatch MakeBatch(const ScanState& state, const std::uint8_t* bytes, std::size_t lines,
                    Totals& totals, int buffer) {
  return {state.request, state.decoder, bytes, lines, lineLengths[buffer], magnitudeBuffers[buffer],
          &totals};
}

// The stamp of a whole line starting at `frame`: its first frame +
// ceil(resolution / 2).
std::int64_t FirstStamp(std::uint64_t frame, std::uint32_t resolution) {
  return static_cast<std::int64_t>(frame + resolution - resolution / 2);
}

void PrintBatch(ScanState& state, const LineBatch& b, Output& out) {
  const std::uint32_t resolution = state.request->resolution;
  PrintLines(state.printer, FirstStamp(state.frame, resolution), resolution, b.lengths, b.lines,
             out);
  state.frame += b.lines * resolution;
}

// Part of a line: `frames` frames, never past the line's end. Lines longer
// than a chunk, and the unfinished line at the end of the interval, are
// built this way.
void AddRun(ScanState& state, const std::uint8_t* bytes, std::size_t frames, Output& out) {
  const ScanRequest& r = *state.request;
  const std::size_t samples = frames * r.channels;
  Totals& totals = state.totals;
  double lineSum = 0.0;
  switch (state.decoder) {
    case Decoder::kNone:
      break;
    case Decoder::kFloat32:
      FloatMagnitudes(bytes, samples, state.stereo, magnitudeBuffers[0], totals.floatPeaks);
      for (std::size_t i = 0; i < samples; ++i) totals.floatSum += magnitudeBuffers[0][i];
      lineSum = totals.floatSum;
      break;
    default:
      Accumulate(state.decoder, bytes, samples, state.stereo, totals.pcm);
      lineSum = static_cast<double>(totals.pcm.sum) * PcmUnit(state.decoder);
      break;
  }
  state.frame += frames;
  state.count += static_cast<std::uint32_t>(frames);
  if (state.count == r.resolution) {
    EndLine(state, lineSum, out);
    totals.floatSum = 0.0;
    totals.pcm.sum = 0;
  }
}

// The frames of a chunk: its whole lines, bars first, then the rest.
void AddChunk(ScanState& state, const std::uint8_t* bytes, std::size_t frames, Output& out) {
  const std::uint32_t resolution = state.request->resolution;
  const std::uint32_t align = state.request->blockAlign;
  if (resolution != 0 && resolution <= state.chunkFrames && state.count == 0 &&
      frames >= resolution) {
    const LineBatch batch = MakeBatch(state, bytes, frames / resolution, state.totals, 0);
    ComputeLines(batch);
    PrintBatch(state, batch, out);
    bytes += batch.lines * resolution * align;
    frames -= batch.lines * resolution;
  }
  while (frames > 0) {
    const std::size_t run =
        resolution == 0 ? frames : std::min<std::size_t>(frames, resolution - state.count);
    AddRun(state, bytes, run, out);
    bytes += run * align;
    frames -= run;
  }
}

// The worker's job: a batch whose bars it works out and prints aside.
struct WorkerJob {
  LineBatch* batch;
  std::int64_t t;  // the stamp of the batch's first line
  LinePrinter* printer;
};

// The worker's lines, printed into a block of their own and put out in
// their turn; a block too small for them is printed again, in turn.
TextBlock workerText;

void RunWorkerJob(void* arg) {
  auto& job = *static_cast<WorkerJob*>(arg);
  const LineBatch& b = *job.batch;
  ComputeLines(b);
  workerText.used = 0;
  workerText.full = false;
  PrintLines(*job.printer, job.t, b.request->resolution, b.lengths, b.lines, workerText);
}

// Two chunks of whole lines, one after the other: the worker works out and
// prints aside the second's lines while this thread works out and prints
// the first's.
void AddChunkPair(ScanState& state, const std::uint8_t* first, std::size_t firstLines,
                  const std::uint8_t* second, std::size_t secondLines, Totals& workerTotals,
                  LinePrinter& workerPrinter, Output& out) {
  const std::uint32_t resolution = state.request->resolution;
  LineBatch later = MakeBatch(state, second, secondLines, workerTotals, 1);
  WorkerJob job{&later, FirstStamp(state.frame + firstLines * resolution, resolution),
                &workerPrinter};
  PostJob(RunWorkerJob, &job);
  const LineBatch now = MakeBatch(state, first, firstLines, state.totals, 0);
  ComputeLines(now);
  PrintBatch(state, now, out);
  AwaitJob();
  if (workerText.full) {
    PrintBatch(state, later, out);
  } else {
    PutBlock(out, workerText);
    state.frame += later.lines * resolution;
  }
}

void MergePeaks(Totals& into, const Totals& from) {
  into.pcm.maxLeft = std::max(into.pcm.maxLeft, from.pcm.maxLeft);
  into.pcm.maxRight = std::max(into.pcm.maxRight, from.pcm.maxRight);
  into.floatPeaks.maxLeft = std::max(into.floatPeaks.maxLeft, from.floatPeaks.maxLeft);
  into.floatPeaks.maxRight = std::max(into.floatPeaks.maxRight, from.floatPeaks.maxRight);
}

Peaks FinalPeaks(const ScanState& state) {
  const Totals& totals = state.totals;
  Peaks peaks;
  switch (state.decoder) {
    case Decoder::kNone:
      break;
    case Decoder::kFloat32: {
      const auto level = [](std::int64_t bits) {
        return bits < 0 ? 0.0 : FloatMagnitudeLevel(static_cast<std::uint32_t>(bits));
      };
      peaks.left = level(totals.floatPeaks.maxLeft);
      peaks.right = level(totals.floatPeaks.maxRight);
      break;
    }
    default:
      peaks.left = totals.pcm.maxLeft * PcmUnit(state.decoder);
      peaks.right = totals.pcm.maxRight * PcmUnit(state.decoder);
      break;
  }
  return peaks;
}

}  // namespace

Decoder DecoderFor(std::uint32_t bytesPerSample, std::uint32_t channels, std::uint32_t formatCode) {
  if (channels != 1 && channels != 2) return Decoder::kNone;
  switch (bytesPerSample) {
    case 1:
      return formatCode == kFormatPcm     ? Decoder::kPcm8
             : formatCode == kFormatALaw  ? Decoder::kALaw
             : formatCode == kFormatMuLaw ? Decoder::kMuLaw
                                          : Decoder::kNone;
    case 2:
      return Decoder::kPcm16;
    case 3:
      return Decoder::kPcm24;
    case 4:
      // Integer PCM only when the header says so; any other code is float.
      return formatCode == kFormatPcm ? Decoder::kPcm32 : Decoder::kFloat32;
    default:
      return Decoder::kNone;
  }
}

void Waveform(std::int64_t t, std::uint32_t sampleRate, double length, double secondsPerLine,
              Output& out) {
  LinePrinter printer = MakeLinePrinter(sampleRate, secondsPerLine);
  PrintLine(printer, t, length, out);
}

void SetChunkFrames(std::uint32_t frames) { fixedChunkFrames = std::min(frames, kChunkFrames); }

Peaks ScanInterval(Source& source, const ScanRequest& request, Output& out) {
  ScanState state;
  state.request = &request;
  state.decoder = DecoderFor(request.bytesPerSample, request.channels, request.formatCode);
  state.stereo = request.channels == 2;
  state.frame = request.startFrame;
  state.printer = MakeLinePrinter(request.sampleRate, request.secondsPerLine);
  if (!LineSumIsExact(state.decoder, std::uint64_t{request.resolution} * request.channels)) {
    return ScanIntervalReference(source, request, out);
  }
  const std::uint32_t align = request.blockAlign;
  const std::uint32_t resolution = request.resolution;
  const std::size_t chunkFrames = ChunkFramesFor(align);
  state.chunkFrames = chunkFrames;
  const auto view = [&](std::uint64_t frame, std::size_t frames, int buffer) {
    // Whole frames only: a frame is never decoded from stale buffer bytes,
    // and a file that shrank since it was probed, or failed to read, ends
    // the scan there.
    std::uint8_t* const bytes = frameBuffers[buffer];
    const std::size_t got =
        ReadAt(source, request.dataOffset + std::uint64_t{align} * frame, bytes, frames * align);
    return std::pair(static_cast<const std::uint8_t*>(bytes), got / align);
  };
  std::uint64_t remaining = request.endFrame - request.startFrame;
  // Chunks of whole lines go two at a time, one to each thread, where the
  // interval is long enough to win back what starting a thread costs.
  // A line costs about as much to print as 64 bytes of samples to scan.
  const std::uint64_t work =
      remaining * align + (resolution == 0 ? 0 : remaining / resolution * 64);
  const bool longEnough =
      GetWorkerUse() == WorkerUse::kAlways ? remaining > chunkFrames : work >= kWorkerBytes;
  LinePrinter workerPrinter = state.printer;
  const bool paired = resolution != 0 && resolution <= chunkFrames && longEnough && StartWorker();
  Totals workerTotals;
  while (remaining > 0) {
    const std::size_t wanted = NextChunk(remaining, state.count, resolution, chunkFrames);
    const auto [first, got] = view(state.frame, wanted, 0);
    if (paired && got == wanted && wanted % resolution == 0 && remaining > wanted) {
      const std::size_t wantedNext = NextChunk(remaining - wanted, 0, resolution, chunkFrames);
      const auto [second, gotNext] = view(state.frame + wanted, wantedNext, 1);
      if (gotNext == wantedNext && wantedNext % resolution == 0) {
        AddChunkPair(state, first, wanted / resolution, second, wantedNext / resolution,
                     workerTotals, workerPrinter, out);
        remaining -= wanted + wantedNext;
        if (out.failed) break;
        continue;
      }
      // The last chunk, or a short one: both in turn.
      AddChunk(state, first, got, out);
      AddChunk(state, second, gotNext, out);
      if (gotNext < wantedNext) break;
      remaining -= wanted + gotNext;
      continue;
    }
    AddChunk(state, first, got, out);
    // A file that ended or failed ends the scan, and nothing more can be
    // shown once standard output has failed.
    if (got < wanted || out.failed) break;
    remaining -= got;
  }
  if (paired) StopWorker();
  MergePeaks(state.totals, workerTotals);
  return FinalPeaks(state);
}

}  // namespace ampdots
