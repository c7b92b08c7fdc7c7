// The scan's driver: it reads the plan's frames a chunk at a time, hands
// every other chunk of whole lines to the worker where the interval is long
// enough, and stops where the frames, the file or the output end. The
// arithmetic is in lines.cc; this file only decides who adds what, when.
#include "scan/scan.h"

#include <algorithm>
#include <memory>

#include "scan/blocks.h"
#include "scan/lines.h"
#include "scan/worker.h"

namespace ampdots {
namespace {

// Intervals worth at least this many bytes of scanning are shared with the
// worker: the thread costs about two milliseconds to start and bring up to
// speed, and saves about 0.06 ms a MiB. A line costs about as much to print
// as 64 bytes of samples to scan.
constexpr std::uint64_t kWorkerBytes = std::uint64_t{64} << 20;
constexpr std::uint64_t kLineBytes = 64;

// A chunk holds at most this many lines: more would only add to the
// memory that their lengths and the worker's text take (a line per frame
// of 16-bit mono is 34 bytes of text for 2 of samples).
constexpr std::size_t kChunkLines = 16384;

// How many of its chunks the worker may have worked out ahead of the scan's
// own thread, whose turn to print them has not come: enough that neither
// thread waits on the other's every chunk, few enough that their text
// stays small.
constexpr int kAheadSlots = 3;

// The buffers of the one scan a process runs: fixed, and too large for the
// stack. Two of each: the worker takes one chunk while the scan's own
// thread takes the one before it. The worker's bar lengths and text are
// kept, a set for each chunk it may be ahead.
std::uint8_t frameBuffers[2][kChunkBytes];
double magnitudeBuffers[2][kChunkBytes / 4];  // a float sample is 4 bytes
double lineLengths[1 + kAheadSlots][kChunkLines];

constexpr Workspace WorkerSpace(int slot) { return {lineLengths[1 + slot], magnitudeBuffers[1]}; }

// The pair loop's: this thread's, and the worker's, which is the first
// kept set (a scan runs one loop or the other, never both).
constexpr Workspace kWorkspaces[2] = {{lineLengths[0], magnitudeBuffers[0]}, WorkerSpace(0)};

// The worker's lines, printed into a block of their own and put out in
// their turn; a block too small for them is printed again, in turn.
TextBlock workerText[kAheadSlots];

// The plan's chunk, never more than fits the buffers.
std::size_t ChunkFramesFor(const ScanPlan& plan) {
  std::size_t fit = kChunkBytes / plan.frameBytes;
  if (plan.resolution != 0 && fit / kChunkLines >= plan.resolution) {
    fit = kChunkLines * plan.resolution;
  }
  return plan.chunkFrames != 0 ? std::min<std::size_t>(plan.chunkFrames, fit) : fit;
}

// Up to `frames` whole frames from `frame` on into buffer `buffer`; fewer
// where the file ends or fails. A frame is never decoded from stale bytes.
std::size_t ReadFrames(Source& source, const ScanPlan& plan, std::uint64_t frame,
                       std::size_t frames, int buffer) {
  const std::uint32_t width = plan.frameBytes;
  return ReadAt(source, FrameOffset(plan, frame), frameBuffers[buffer], frames * width) / width;
}

// The worker's side of a scan: its own peaks, a printer that follows the
// scan's own from chunk to chunk, and their state before each of its
// latest chunks, put back where that chunk turns out to lie past the end
// of the scan.
struct Helper {
  bool running = false;
  Totals totals;
  LinePrinter printer;
  Stats stats;  // of its chunks, when the run asks for figures
  Totals savedTotals[kAheadSlots];
  Stats savedStats[kAheadSlots];

  void Save(int slot = 0) {
    savedTotals[slot] = totals;
    savedStats[slot] = stats;
  }
  void Restore(int slot = 0) {
    totals = savedTotals[slot];
    stats = savedStats[slot];
  }
};

// The next two chunks of a scan with `remaining` frames to go, `count`
// frames of the current line in: the second is 0 where the first is all
// there is or ends inside a line, so that no chunk follows it.
struct Pair {
  std::size_t first;
  std::size_t second;
};

Pair NextPair(std::uint64_t remaining, std::uint32_t count, std::uint32_t resolution,
              std::size_t chunkFrames) {
  const std::size_t first = NextChunk(remaining, count, resolution, chunkFrames);
  if (resolution == 0 || first % resolution != 0 || remaining == first) return {first, 0};
  return {first, NextChunk(remaining - first, 0, resolution, chunkFrames)};
}

// The chunk loop of a stream's picture and records, and of a file's
// records that need every frame in order (a file's picture, and records
// that stand alone, run DriveAhead): chunks of whole lines where they fit
// and, with the worker running, a second chunk for it. `chunks` takes them:
//   Work(frame, frames)  on the worker: the second of two chunks of whole
//                        lines, in buffer 1, worked out aside;
//   First(frames)        the first of the two, in buffer 0, worked out and
//                        handed on while the worker works;
//   Second(frames)       the worker's chunk handed on after it;
//   Add(buffer, frames)  any other chunk, worked out and handed on here;
//   Stop()               whether nothing more can be shown;
//   helper               the worker's side, saved before Work and put back
//                        where its chunk does not count.
// A file is read by both threads at once, each its own chunk (the worker
// through `aside`, its own copy of the source), so that the copy out of the
// page cache is shared too; the worker's chunk counts only if this thread's
// came whole, as if it had been read after it. A stream is read here, in
// order. The loop stops where the frames or the file end.
template <typename Chunks>
void DriveChunks(Source& source, Source* aside, const ScanPlan& plan, std::size_t chunkFrames,
                 const LineState& state, bool worker, Chunks& chunks) {
  const std::uint32_t resolution = plan.resolution;
  std::uint64_t remaining = plan.endFrame - plan.startFrame;
  while (remaining > 0) {
    const Pair pair = NextPair(remaining, state.count, resolution, chunkFrames);
    const std::size_t wanted = pair.first;
    if (!worker || pair.second == 0) {
      const std::size_t got = ReadFrames(source, plan, state.frame, wanted, 0);
      chunks.Add(0, got);
      if (got != wanted || chunks.Stop()) break;
      remaining -= got;
      continue;
    }
    const std::size_t wantedNext = pair.second;
    const std::uint64_t nextFrame = state.frame + wanted;
    const bool nextLines = wantedNext % resolution == 0;
    std::size_t got = 0;
    std::size_t gotNext = 0;
    chunks.helper.Save();
    if (aside != nullptr) {
      auto job = [&] {
        gotNext = ReadFrames(*aside, plan, nextFrame, wantedNext, 1);
        if (gotNext == wantedNext && nextLines) chunks.Work(nextFrame, wantedNext);
      };
      PostJob(job);
      got = ReadFrames(source, plan, state.frame, wanted, 0);
      if (got == wanted) {
        chunks.First(wanted);
      } else {
        chunks.Add(0, got);
      }
      AwaitJob();
      const int asideError = aside->error;
      aside->error = 0;
      if (got != wanted) {
        chunks.helper.Restore();  // never read, as far as the scan goes
        break;
      }
      if (asideError != 0) source.error = asideError;
    } else {
      got = ReadFrames(source, plan, state.frame, wanted, 0);
      if (got == wanted) gotNext = ReadFrames(source, plan, nextFrame, wantedNext, 1);
      if (gotNext == wantedNext && nextLines) {
        auto job = [&] { chunks.Work(nextFrame, wantedNext); };
        PostJob(job);
        chunks.First(wanted);
        AwaitJob();
      } else {
        chunks.Add(0, got);
        if (got != wanted) break;
      }
    }
    if (gotNext == wantedNext && nextLines) {
      chunks.Second(wantedNext);
    } else {
      chunks.helper.Restore();
      chunks.Add(1, gotNext);
    }
    if (gotNext != wantedNext || chunks.Stop()) break;
    remaining -= wanted + wantedNext;
  }
}

// A chunk the worker has read (and worked out, where it came whole and holds
// whole lines), kept until the scan's own thread hands it on.
struct AheadChunk {
  std::uint64_t frame = 0;
  std::size_t wanted = 0;
  std::size_t got = 0;
  int error = 0;  // its read's
  bool lines = false;
};

// The worker running ahead: the second chunk of each pair in set n modulo
// kAheadSlots, `done` of them finished, `taken` handed on by the scan's own
// thread; `begun` is read there only once the worker has stopped.
struct Ahead {
  AheadChunk chunks[kAheadSlots];
  Tally done;
  Tally taken;
  std::uint64_t begun = 0;
};

// The worker's side of DriveAhead: the second chunk of each pair, read
// through `aside`, in order, at most kAheadSlots past the last one taken.
// It stops after a chunk that came short or ends inside a line (its frames
// stay in buffer 1 for the scan's own thread), where the pairs end, or
// when halted.
template <typename Chunks>
void RunAhead(Source& aside, const ScanPlan& plan, std::size_t chunkFrames, std::uint64_t frame,
              std::uint64_t remaining, Chunks& chunks, Ahead& ahead) {
  const std::uint32_t resolution = plan.resolution;
  for (std::uint64_t n = 0;; ++n) {
    const Pair pair = NextPair(remaining, 0, resolution, chunkFrames);
    if (pair.second == 0) return;  // the last chunk is the scan's own
    // (A tally counts round past 2^32, as a file of so many chunks would.)
    const auto reused = static_cast<std::uint32_t>(n - kAheadSlots + 1);
    if (n >= kAheadSlots ? !ahead.taken.AwaitReach(reused) : ahead.taken.Halted()) {
      return;
    }
    const int slot = static_cast<int>(n % kAheadSlots);
    AheadChunk& chunk = ahead.chunks[slot];
    chunk.frame = frame + pair.first;
    chunk.wanted = pair.second;
    chunk.lines = pair.second % resolution == 0;
    chunks.helper.Save(slot);
    ahead.begun = n + 1;
    chunk.got = ReadFrames(aside, plan, chunk.frame, chunk.wanted, 1);
    chunk.error = aside.error;
    aside.error = 0;
    const bool whole = chunk.got == chunk.wanted && chunk.lines;
    if (whole) chunks.Work(chunk.frame, chunk.wanted, slot);
    ahead.done.Raise();
    if (!whole) return;
    frame += pair.first + pair.second;
    remaining -= pair.first + pair.second;
  }
}

// The chunk loop of a file's picture, or of its records where they stand
// alone, with the worker: as DriveChunks,
// but the worker reads and works out its chunks on its own, up to
// kAheadSlots ahead, so that the two threads wait for each other only where
// one is that far ahead. Each chunk's outcome is the same as DriveChunks'
// (the worker's counts only if this thread's chunk before it came whole;
// its figures put back to before the first chunk that does not count).
template <typename Chunks>
void DriveAhead(Source& source, Source& aside, const ScanPlan& plan, std::size_t chunkFrames,
                LineState& state, Chunks& chunks) {
  const std::uint32_t resolution = plan.resolution;
  std::uint64_t remaining = plan.endFrame - plan.startFrame;
  Ahead ahead;
  const std::uint64_t start = state.frame;
  const std::uint64_t frames = remaining;
  auto job = [&, start, frames] {
    RunAhead(aside, plan, chunkFrames, start, frames, chunks, ahead);
  };
  PostJob(job);
  std::uint64_t taken = 0;
  while (remaining > 0) {
    const Pair pair = NextPair(remaining, state.count, resolution, chunkFrames);
    const std::size_t got = ReadFrames(source, plan, state.frame, pair.first, 0);
    if (got != pair.first || pair.second == 0) {
      chunks.Add(0, got);
      break;  // the scan ends here
    }
    chunks.First(got);
    ahead.done.AwaitReach(static_cast<std::uint32_t>(taken + 1));
    const int slot = static_cast<int>(taken % kAheadSlots);
    // A copy: once the set is handed back below, the worker may fill it
    // with a chunk three pairs on.
    const AheadChunk chunk = ahead.chunks[slot];
    if (chunk.error != 0) source.error = chunk.error;
    const bool whole = chunk.got == chunk.wanted;
    if (whole && chunk.lines) {
      chunks.Second(chunk.wanted, slot);
    } else {
      chunks.helper.Restore(slot);
      chunks.Add(1, chunk.got);
    }
    ++taken;
    ahead.taken.Raise();
    if (!whole || chunks.Stop()) break;
    remaining -= pair.first + pair.second;
  }
  ahead.taken.Halt();
  AwaitJob();
  // Chunks worked out past where the scan stopped do not count.
  if (ahead.begun > taken) chunks.helper.Restore(static_cast<int>(taken % kAheadSlots));
}

// A file's two readers each need a processor; a stream's writer is busy
// too, and the kernel, which sees all three, places them best.
Placement PlacementFor(const Source& source) {
  return source.stream ? Placement::kAsPlaced : Placement::kApart;
}

// The worker's copy of a file's source, for it to read its own chunks;
// none for a stream, which is read in order by one thread.
std::unique_ptr<Source> AsideFor(const Source& source, bool worker) {
  if (!worker || source.stream) return nullptr;
  return std::make_unique<Source>(source);
}

// The picture's chunks: lines worked out and printed, the worker's printed
// aside into a block of their own and put out in their turn (a block too
// small for them is printed again, in turn).
struct PictureChunks {
  const ScanPlan& plan;
  LineState& state;
  Helper& helper;
  Stats* stats;
  Output& out;

  void Add(int buffer, std::size_t frames) {
    if (stats != nullptr) AddStats(plan, frameBuffers[buffer], frames, state.frame, *stats);
    AddFrames(state, plan, frameBuffers[buffer], frames, kWorkspaces[buffer], out);
  }
  // The figures and bar lengths of whole lines in buffer `buffer`.
  void Compute(int buffer, std::uint64_t frame, std::size_t frames, Totals& totals, Stats* figures,
               const Workspace& work) {
    if (figures != nullptr) AddStats(plan, frameBuffers[buffer], frames, frame, *figures);
    ComputeLines(plan, frameBuffers[buffer], frames / plan.resolution, totals, work);
  }
  // On the worker: the chunk in buffer 1, kept as set `slot`.
  void Work(std::uint64_t frame, std::size_t frames, int slot = 0) {
    const Workspace work = WorkerSpace(slot);
    Compute(1, frame, frames, helper.totals, stats != nullptr ? &helper.stats : nullptr, work);
    TextBlock& text = workerText[slot];
    text.used = 0;
    text.full = false;
    PrintLines(helper.printer, LineStamp(frame, plan.resolution), plan.resolution, work.lengths,
               frames / plan.resolution, text);
  }
  void First(std::size_t frames) {
    Compute(0, state.frame, frames, state.totals, stats, kWorkspaces[0]);
    PrintComputedLines(state, plan, lineLengths[0], frames / plan.resolution, out);
  }
  // The worker's chunk kept as set `slot`, handed on.
  void Second(std::size_t frames, int slot = 0) {
    const std::size_t lines = frames / plan.resolution;
    if (workerText[slot].full) {
      PrintComputedLines(state, plan, WorkerSpace(slot).lengths, lines, out);
    } else {
      PutBlock(out, workerText[slot]);
      state.frame += frames;
    }
  }
  bool Stop() const { return out.failed; }
};

// Whether the interval is long enough to win back what the worker costs.
// Lines longer than a chunk take it only where the scan can share them
// (`longLines`).
bool WorthAWorker(const ScanPlan& plan, std::size_t chunkFrames, bool longLines = false) {
  const std::uint64_t frames = plan.endFrame - plan.startFrame;
  if (plan.resolution == 0 || (plan.resolution > chunkFrames && !longLines)) return false;
  if (plan.worker == WorkerUse::kNever) return false;
  if (plan.worker == WorkerUse::kAlways) return frames > chunkFrames;
  return frames * plan.frameBytes + frames / plan.resolution * kLineBytes >= kWorkerBytes;
}

}  // namespace

Peaks ScanInterval(Source& source, const ScanPlan& plan, Output& out, Stats* stats) {
  if (plan.decoder == Decoder::kNone) return {};
  if (!FastLinesAreExact(plan)) return ScanIntervalReference(source, plan, out, stats);
  const std::size_t chunkFrames = ChunkFramesFor(plan);
  LineState state = StartLines(plan);
  Helper helper;
  helper.printer = state.printer;
  helper.running = WorthAWorker(plan, chunkFrames) && StartWorker(PlacementFor(source));
  const std::unique_ptr<Source> aside = AsideFor(source, helper.running);
  PictureChunks chunks{plan, state, helper, stats, out};
  if (aside != nullptr) {
    DriveAhead(source, *aside, plan, chunkFrames, state, chunks);
  } else {
    DriveChunks(source, nullptr, plan, chunkFrames, state, helper.running, chunks);
  }
  if (helper.running) StopWorker();
  MergePeaks(state.totals, helper.totals);
  if (stats != nullptr) MergeStats(*stats, helper.stats);
  return FinalPeaks(plan, state.totals);
}

namespace {

// A chunk's records are worked out before they are handed on, so that the
// worker can work out a chunk's while this thread hands on the one before.
// Records are large: a chunk holds at most this many lines. A set for this
// thread's chunk, and one for each chunk the worker may be ahead.
constexpr std::size_t kChunkBlocks = 2048;
BlockRecord blockRecords[1 + kAheadSlots][kChunkBlocks];

// Where the worker writes its records itself, their text waits here for
// its turn: a chunk holds at most kStandaloneBlocks lines, whose records
// fit at up to 256 bytes each (a stereo record takes about 150). A set
// whose text did not fit is written again, in turn, from its records.
constexpr std::size_t kStandaloneBlocks = kOutputBufferBytes / 256;
Output workerRecords[kAheadSlots];
Stats workerChunkStats[kAheadSlots];

// `lines` whole lines from `firstFrame` at the start of buffer `buffer`
// into `records`: bars and figures.
void ComputeBlocks(const ScanPlan& plan, std::size_t lines, std::uint64_t firstFrame,
                   Totals& totals, int buffer, const Workspace& work, BlockRecord* records) {
  const std::uint32_t resolution = plan.resolution;
  const std::uint8_t* bytes = frameBuffers[buffer];
  const std::size_t lineBytes = std::size_t{resolution} * plan.frameBytes;
  // Where the figures' loop sums the bar too, each block is one pass over
  // its frames; else the bars of all the lines come first.
  const bool onePass = FiguresGiveLines(plan);
  if (!onePass) ComputeLines(plan, bytes, lines, totals, work);
  for (std::size_t j = 0; j < lines; ++j, bytes += lineBytes) {
    BlockRecord& block = records[j];
    block.frame = firstFrame + j * resolution;
    block.frames = resolution;
    block.stats = Stats{};
    if (onePass) {
      Totals line;
      AddRunStatsAndLine(plan, bytes, resolution, block.frame, block.stats, line.pcm);
      block.length = PcmLineLength(plan, line.pcm.sum);
      MergePeaks(totals, line);
    } else {
      block.length = work.lengths[j];
      AddRunStats(plan, bytes, resolution, block.frame, block.stats);
    }
  }
}

void ComputeBlocks(const ScanPlan& plan, std::size_t lines, std::uint64_t firstFrame,
                   Totals& totals, int buffer) {
  ComputeBlocks(plan, lines, firstFrame, totals, buffer, kWorkspaces[buffer], blockRecords[buffer]);
}

// A line's own peak time is not shown: it is looked for only where the
// line holds the interval's new peak.
void HandOnBlocks(const ScanPlan& plan, std::size_t lines, int buffer, Stats& interval,
                  BlockSink& sink) {
  const std::size_t lineBytes = std::size_t{plan.resolution} * plan.frameBytes;
  for (std::size_t j = 0; j < lines; ++j) {
    BlockRecord& block = blockRecords[buffer][j];
    sink.Frames(
        FrameRun{frameBuffers[buffer] + j * lineBytes, block.frames, block.frame, block.stats});
    MergeRun(interval, block.stats, plan, frameBuffers[buffer] + j * lineBytes, block.frame);
    sink.Block(block);
  }
}

// The frames of buffer `buffer` as records: whole lines together, then the
// rest into the line being built (`current` holds its figures so far).
void AddBlockFrames(LineState& state, const ScanPlan& plan, int buffer, std::size_t frames,
                    Stats& current, Stats& interval, BlockSink& sink) {
  const std::uint32_t resolution = plan.resolution;
  const std::uint8_t* bytes = frameBuffers[buffer];
  if (resolution != 0 && state.count == 0 && frames >= resolution) {
    const std::size_t lines = frames / resolution;
    ComputeBlocks(plan, lines, state.frame, state.totals, buffer);
    HandOnBlocks(plan, lines, buffer, interval, sink);
    state.frame += lines * resolution;
    bytes += lines * resolution * plan.frameBytes;
    frames -= lines * resolution;
  }
  BlockRecord block;
  block.frames = resolution;
  while (frames > 0) {
    const std::size_t part =
        resolution == 0 ? frames : std::min<std::size_t>(frames, resolution - state.count);
    Stats partStats;
    AddRunStats(plan, bytes, part, state.frame, partStats);
    sink.Frames(FrameRun{bytes, part, state.frame, partStats});
    MergeRun(current, partStats, plan, bytes, state.frame);
    if (AddLinePart(state, plan, bytes, part, magnitudeBuffers[buffer], block.length)) {
      block.frame = state.frame - resolution;
      block.stats = current;
      sink.Block(block);
      MergeStats(interval, current);
      current = Stats{};
    }
    bytes += part * plan.frameBytes;
    frames -= part;
  }
}

// A piece of a line in one buffer: worked out on either thread, then added
// to its line in order on the scan's own.
struct LinePiece {
  const std::uint8_t* bytes = nullptr;
  std::size_t frames = 0;
  std::uint64_t firstFrame = 0;
  double* magnitudes = nullptr;
  Stats stats;
  LinePartSums sums;
};

// A chunk of `frames` frames from `frame` in buffer `buffer`, cut where a
// line ends (lines are longer than chunks: at most once), `count` frames of
// the line already in. Returns the pieces made.
std::size_t CutPieces(const ScanPlan& plan, int buffer, std::size_t frames, std::uint64_t frame,
                      std::uint32_t count, LinePiece* pieces) {
  std::size_t made = 0;
  std::size_t done = 0;
  while (done < frames) {
    const std::size_t part = std::min<std::size_t>(frames - done, plan.resolution - count);
    LinePiece& piece = pieces[made++];
    piece.bytes = frameBuffers[buffer] + done * plan.frameBytes;
    piece.frames = part;
    piece.firstFrame = frame + done;
    piece.magnitudes = magnitudeBuffers[buffer] + done * plan.channels;
    done += part;
    count = static_cast<std::uint32_t>((count + part) % plan.resolution);
  }
  return made;
}

void WorkOutPieces(const ScanPlan& plan, LinePiece* pieces, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    LinePiece& piece = pieces[i];
    AddRunStats(plan, piece.bytes, piece.frames, piece.firstFrame, piece.stats);
    SumLinePart(plan, piece.bytes, piece.frames, piece.magnitudes, piece.sums);
  }
}

// Lines longer than a chunk: the two threads each read and work out a
// chunk (its figures, and its sums or magnitudes for the bar), and this
// thread then adds the pieces to their lines in order. A stream is read
// here alone, in order; a file by both threads at once, the worker through
// its own copy of the source, whose chunk counts only if this thread's
// came whole (as if read after it).
Stats ScanLongLines(Source& source, const ScanPlan& plan, std::size_t chunkFrames, BlockSink& sink,
                    Peaks* peaks) {
  const std::uint32_t resolution = plan.resolution;
  std::unique_ptr<Source> aside;
  if (!source.stream) aside = std::make_unique<Source>(source);
  LineState state = StartLines(plan);
  Stats interval;
  Stats current;
  BlockRecord block;
  block.frames = resolution;
  std::uint64_t remaining = plan.endFrame - plan.startFrame;
  while (remaining > 0) {
    const auto first = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, chunkFrames));
    const std::size_t wanted[2] = {
        first, static_cast<std::size_t>(std::min<std::uint64_t>(remaining - first, chunkFrames))};
    const std::uint64_t secondFrame = state.frame + wanted[0];
    const auto secondCount = static_cast<std::uint32_t>((state.count + wanted[0]) % resolution);
    std::size_t got[2] = {0, 0};
    LinePiece pieces[2][2];
    std::size_t made[2] = {0, 0};
    const auto read = [&](int b, Source& from, std::uint64_t frame, std::uint32_t count) {
      got[b] = ReadFrames(from, plan, frame, wanted[b], b);
      made[b] = CutPieces(plan, b, got[b], frame, count, pieces[b]);
    };
    if (wanted[1] > 0 && aside != nullptr) {
      auto job = [&] {
        read(1, *aside, secondFrame, secondCount);
        WorkOutPieces(plan, pieces[1], made[1]);
      };
      PostJob(job);
      read(0, source, state.frame, state.count);
      WorkOutPieces(plan, pieces[0], made[0]);
      AwaitJob();
      if (got[0] < wanted[0]) {
        got[1] = made[1] = 0;  // never read, as far as the scan goes
      } else if (aside->error != 0) {
        source.error = aside->error;
      }
      aside->error = 0;
    } else {
      // A stream is read in order; then both chunks are worked out at once.
      read(0, source, state.frame, state.count);
      if (got[0] == wanted[0] && wanted[1] > 0) read(1, source, secondFrame, secondCount);
      auto job = [&] { WorkOutPieces(plan, pieces[1], made[1]); };
      if (made[1] > 0) PostJob(job);
      WorkOutPieces(plan, pieces[0], made[0]);
      if (made[1] > 0) AwaitJob();
    }
    for (int b = 0; b < 2; ++b) {
      for (std::size_t i = 0; i < made[b]; ++i) {
        LinePiece& piece = pieces[b][i];
        sink.Frames(FrameRun{piece.bytes, piece.frames, piece.firstFrame, piece.stats});
        MergeRun(current, piece.stats, plan, piece.bytes, piece.firstFrame);
        if (FinishLinePart(state, plan, piece.frames, piece.magnitudes, piece.sums, block.length)) {
          block.frame = state.frame - resolution;
          block.stats = current;
          sink.Block(block);
          MergeStats(interval, current);
          current = Stats{};
        }
      }
    }
    const bool whole = got[0] == wanted[0] && got[1] == wanted[1];
    if (!whole || sink.Failed()) break;
    remaining -= got[0] + got[1];
  }
  MergeStats(interval, current);
  if (peaks != nullptr) *peaks = FinalPeaks(plan, state.totals);
  return interval;
}

// The records' chunks: lines worked out into records on either thread,
// handed on in order here.
struct BlockChunks {
  const ScanPlan& plan;
  LineState& state;
  Helper& helper;
  Stats& current;
  Stats& interval;
  BlockSink& sink;

  void Add(int buffer, std::size_t frames) {
    AddBlockFrames(state, plan, buffer, frames, current, interval, sink);
  }
  void Work(std::uint64_t frame, std::size_t frames) {
    ComputeBlocks(plan, frames / plan.resolution, frame, helper.totals, 1);
  }
  void First(std::size_t frames) {
    const std::size_t lines = frames / plan.resolution;
    ComputeBlocks(plan, lines, state.frame, state.totals, 0);
    HandOnBlocks(plan, lines, 0, interval, sink);
    state.frame += frames;
  }
  void Second(std::size_t frames) {
    HandOnBlocks(plan, frames / plan.resolution, 1, interval, sink);
    state.frame += frames;
  }
  bool Stop() const { return sink.Failed(); }
};

// The figures of `lines` records of whole lines whose frames are at
// `bytes`: each channel's peak frame looked for only in the first line
// that holds its peak, rather than wherever the peak grows, as it would
// at nearly every line of a chunk, and only where that peak passes
// `earlier[c]`, the highest of an earlier chunk: one that does not is
// never where the interval's peak first stands (merged, an unknown frame
// loses to the earlier chunk's on equal peaks). `earlier` is raised to
// the chunk's peaks.
Stats MergeBlocks(const ScanPlan& plan, BlockRecord* records, std::size_t lines,
                  const std::uint8_t* bytes, double (&earlier)[kMaxChannels]) {
  Stats figures;
  std::size_t holder[kMaxChannels] = {};
  for (std::size_t j = 0; j < lines; ++j) {
    for (std::uint32_t c = 0; c < plan.channels; ++c) {
      if (records[j].stats.channel[c].peak > records[holder[c]].stats.channel[c].peak) {
        holder[c] = j;
      }
    }
    MergeStats(figures, records[j].stats);
  }
  const std::size_t lineBytes = std::size_t{plan.resolution} * plan.frameBytes;
  for (std::uint32_t c = 0; c < plan.channels && lines > 0; ++c) {
    ChannelStats& peak = records[holder[c]].stats.channel[c];
    if (!(peak.peak > earlier[c])) continue;  // or not a sample but not-a-numbers
    earlier[c] = peak.peak;
    if (peak.peakFrame == kUnknownFrame) {
      const BlockRecord& block = records[holder[c]];
      Stats located;
      AddStats(plan, bytes + holder[c] * lineBytes, block.frames, block.frame, located);
      peak.peakFrame = located.channel[c].peakFrame;
    }
    figures.channel[c].peakFrame = peak.peakFrame;
  }
  return figures;
}

// The records' chunks where the sink's records stand alone, for DriveAhead:
// the worker writes its chunks' records into text of its own, and adds
// their figures up itself (it alone still has their frames, to find a new
// peak's frame), up to kAheadSlots chunks ahead; this thread puts out
// each chunk's text and adds its figures to the interval in their turn.
// Chunks of this thread's own, or short, are handed on as BlockChunks'.
struct StandaloneChunks : BlockChunks {
  Output& out;
  double workerPeaks[kMaxChannels];  // the highest of the worker's chunks so far

  void Work(std::uint64_t frame, std::size_t frames, int slot) {
    const std::size_t lines = frames / plan.resolution;
    BlockRecord* records = blockRecords[1 + slot];
    ComputeBlocks(plan, lines, frame, helper.totals, 1, WorkerSpace(slot), records);
    workerChunkStats[slot] = MergeBlocks(plan, records, lines, frameBuffers[1], workerPeaks);
    Output& text = workerRecords[slot];
    text.used = 0;
    text.dropped = 0;
    for (std::size_t j = 0; j < lines; ++j) sink.Write(records[j], text);
  }
  void Second(std::size_t frames, int slot) {
    MergeStats(interval, workerChunkStats[slot]);
    const Output& text = workerRecords[slot];
    if (text.dropped == 0) {
      Put(out, Text(text));
    } else {
      const BlockRecord* records = blockRecords[1 + slot];
      for (std::size_t j = 0; j < frames / plan.resolution; ++j) sink.Block(records[j]);
    }
    state.frame += frames;
  }
};

}  // namespace

Stats ScanBlocks(Source& source, const ScanPlan& plan, BlockSink& sink, Peaks* peaks) {
  if (plan.decoder == Decoder::kNone) return {};
  const std::uint32_t resolution = plan.resolution;
  std::size_t chunkFrames = ChunkFramesFor(plan);
  // Lines too long for exact integer sums are added in order, contribution
  // by contribution, where a chunk's contributions fit the buffers (samples
  // of 4 bytes: 32-bit lines of 2^22 samples, far longer than a chunk).
  if (!FastLinesAreExact(plan) && (plan.bytesPerSample < 4 || resolution <= chunkFrames)) {
    return ScanBlocksReference(source, plan, sink, peaks);
  }
  if (resolution > chunkFrames && WorthAWorker(plan, chunkFrames, true) &&
      StartWorker(PlacementFor(source))) {
    const Stats interval = ScanLongLines(source, plan, chunkFrames, sink, peaks);
    StopWorker();
    return interval;
  }
  Output* const standalone = source.stream ? nullptr : sink.Standalone();
  if (resolution != 0) {
    const std::size_t blocks = standalone != nullptr ? kStandaloneBlocks : kChunkBlocks;
    chunkFrames = std::min(chunkFrames, blocks * resolution);
  }
  LineState state = StartLines(plan);
  Helper helper;
  helper.running = WorthAWorker(plan, chunkFrames) && StartWorker(PlacementFor(source));
  const std::unique_ptr<Source> aside = AsideFor(source, helper.running);
  Stats interval;
  Stats current;
  if (aside != nullptr && standalone != nullptr) {
    StandaloneChunks chunks{{plan, state, helper, current, interval, sink}, *standalone, {}};
    std::fill(std::begin(chunks.workerPeaks), std::end(chunks.workerPeaks), ChannelStats{}.peak);
    DriveAhead(source, *aside, plan, chunkFrames, state, chunks);
  } else {
    BlockChunks chunks{plan, state, helper, current, interval, sink};
    DriveChunks(source, aside.get(), plan, chunkFrames, state, helper.running, chunks);
  }
  if (helper.running) StopWorker();
  MergeStats(interval, current);
  if (peaks != nullptr) {
    MergePeaks(state.totals, helper.totals);
    *peaks = FinalPeaks(plan, state.totals);
  }
  return interval;
}

}  // namespace ampdots
