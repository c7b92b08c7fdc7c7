#include "io/output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace ampdots {
namespace {

TEST(Output, MemoryOutputKeepsWhatFitsAndCountsTheRest) {
  static Output out;
  out.used = 0;
  PutRepeated(out, '.', kOutputBufferBytes - 3);
  PutF(out, "%.1f|", 2.25);
  EXPECT_EQ(out.used, kOutputBufferBytes);
  EXPECT_EQ(out.dropped, 1u);  // "2.2|" has one byte too many
  EXPECT_EQ(Text(out).substr(kOutputBufferBytes - 4), ".2.2");
}

// Pieces that fit are copied straight in; one that does not is cut at the
// buffer's end in memory, and flushed around in order to a file.
TEST(Output, PiecesAtTheBuffersEnd) {
  static Output out;
  out.fd = -1;
  out.used = 0;
  out.dropped = 0;
  PutRepeated(out, '.', kOutputBufferBytes - 5);
  Put(out, "abc");
  Put(out, "defg");  // two bytes fit
  PutChar(out, 'h');
  EXPECT_EQ(out.used, kOutputBufferBytes);
  EXPECT_EQ(out.dropped, 3u);
  EXPECT_EQ(Text(out).substr(kOutputBufferBytes - 6), ".abcde");

  out.fd = memfd_create("output", 0);
  ASSERT_GE(out.fd, 0);
  out.used = 0;
  PutRepeated(out, 'x', kOutputBufferBytes - 2);
  Put(out, "1234");
  PutChar(out, '5');
  ASSERT_TRUE(Flush(out));
  std::string got(kOutputBufferBytes + 16, '\0');
  const ssize_t n = pread(out.fd, got.data(), got.size(), 0);
  EXPECT_EQ(n, static_cast<ssize_t>(kOutputBufferBytes + 3));
  EXPECT_EQ(got.substr(kOutputBufferBytes - 4, 7), "xx12345");
  close(out.fd);
  out.fd = -1;
}

TEST(Output, FileOutputFlushesWhenFullAndReportsFailure) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  static Output out;
  out.fd = fds[1];
  PutRepeated(out, 'x', 5000);
  PutLine(out, "end");
  ASSERT_TRUE(Flush(out));
  char got[8000];
  EXPECT_EQ(read(fds[0], got, sizeof got), 5004);
  EXPECT_EQ(std::string(got + 4995, 9), "xxxxxend\n");
  close(fds[0]);
  close(fds[1]);
  out.fd = open("/dev/full", O_WRONLY);
  PutLine(out, "no room for this");
  EXPECT_FALSE(Flush(out));
  EXPECT_TRUE(out.failed);
  close(out.fd);
}

}  // namespace
}  // namespace ampdots
