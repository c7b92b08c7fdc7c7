// Runs the built ampdots binary and captures its standard output, standard
// error and exit status.
#ifndef AMPDOTS_TESTS_SUPPORT_RUN_TOOL_H_
#define AMPDOTS_TESTS_SUPPORT_RUN_TOOL_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/wav_builder.h"

namespace ampdots::testing {

inline constexpr char kBannerLine[] = "Ampdots 1.01 by Velbrand\n";

struct Ran {
  std::string out;
  std::string err;
  int status;
};

inline std::string Drain(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
    text.append(chunk, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

// Runs the tool with `args`, standard input from `input` (or /dev/null) and
// standard output captured, or sent to `output` when one is named.
inline Ran RunTool(const std::vector<std::string>& args, const std::string& input = "/dev/null",
                   const std::string& output = "") {
  const std::string errPath = ::testing::TempDir() + "ampdots_stderr.txt";
  int outPipe[2];
  if (pipe(outPipe) != 0) return {"", "pipe failed", -1};
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(input.c_str(), O_RDONLY);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(output.empty() ? outPipe[1] : open(output.c_str(), O_WRONLY), 1);
    dup2(err, 2);
    close(outPipe[0]);
    signal(SIGPIPE, SIG_DFL);  // as a shell starts it, whatever the test runner does
    std::vector<char*> argv{const_cast<char*>(AMPDOTS_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(AMPDOTS_BINARY, argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  Ran ran{Drain(outPipe[0]), "", -1};
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  ran.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  ran.err = Drain(open(errPath.c_str(), O_RDONLY));
  return ran;
}

inline std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "ampdots_" + name;
}

inline std::string WriteWav(const std::string& name, const Bytes& bytes) {
  const std::string path = TempPath(name);
  EXPECT_TRUE(WriteFile(path, bytes));
  return path;
}

inline void ExpectRun(const Ran& ran, const std::string& out, int status) {
  EXPECT_EQ(ran.out, kBannerLine + out);
  EXPECT_EQ(ran.err, "");
  EXPECT_EQ(ran.status, status);
}

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_SUPPORT_RUN_TOOL_H_
