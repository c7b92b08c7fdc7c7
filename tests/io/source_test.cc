#include "io/source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <numeric>
#include <thread>
#include <vector>

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

// A regular file cut short by another process while it is read ends where
// it ends now: fewer bytes, and no error, since nothing failed.
TEST(FileSource, CutShortWhileRead) {
  const testing::ScratchDir dir;
  const std::string path = dir.Write("cut.bin", Counting(65536));
  Source source;
  ASSERT_TRUE(OpenSource(path.c_str(), source));
  std::uint8_t bytes[4096];
  ASSERT_EQ(ReadAt(source, 8192, bytes, sizeof bytes), 4096u);
  EXPECT_EQ(bytes[1], (8192 + 1) % 256);
  ASSERT_EQ(truncate(path.c_str(), 10000), 0);
  EXPECT_EQ(SourceLength(source), 10000u);
  EXPECT_EQ(ReadAt(source, 8192, bytes, sizeof bytes), 10000u - 8192);
  EXPECT_EQ(ReadAt(source, 12000, bytes, sizeof bytes), 0u);
  EXPECT_EQ(source.error, 0);
  CloseSource(source);
}

// A writer process for a named FIFO: opens it (waiting for a reader), after
// `delayMs` if given, writes `bytes`, and ends with status 0, or 3 when
// the reader let go of the FIFO first.
pid_t StartFifoWriter(const std::string& path, const std::vector<std::uint8_t>& bytes,
                      int delayMs) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  signal(SIGPIPE, SIG_IGN);
  std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  const int fd = open(path.c_str(), O_WRONLY);
  std::size_t done = 0;
  while (fd >= 0 && done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(3);
    done += static_cast<std::size_t>(n);
  }
  _exit(fd >= 0 ? 0 : 4);
}

// A reader that lets go of a FIFO, even for a moment, can leave its writer
// without a reader: the writer dies of SIGPIPE and the picture ends early,
// or the reader waits for a writer that has gone. With a long pause where
// the FIFO is opened (as on a loaded machine), a writer that came first and
// one that comes later are both read whole.
TEST(NamedFifo, SlowOpenNeverLosesTheWriter) {
  const std::vector<std::uint8_t> bytes = Counting(300000);
  SetFifoOpenPause([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
  alarm(30);  // a hang ends the test binary instead of stalling the suite
  for (const int writerDelayMs : {0, 600}) {
    SCOPED_TRACE(writerDelayMs);
    const testing::ScratchDir dir;
    const std::string path = dir.Path("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const pid_t writer = StartFifoWriter(path, bytes, writerDelayMs);
    // The first writer is waiting in its open before the reader comes.
    if (writerDelayMs == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Source source;
    ASSERT_TRUE(OpenSource(path.c_str(), source));
    EXPECT_TRUE(source.stream);
    std::vector<std::uint8_t> got(bytes.size() + 1);
    EXPECT_EQ(ReadAt(source, 0, got.data(), got.size()), bytes.size());
    got.resize(bytes.size());
    EXPECT_EQ(got, bytes);
    CloseSource(source);
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  alarm(0);
  SetFifoOpenPause(nullptr);
}

}  // namespace
}  // namespace ampdots
