// Runs the built ampdots binary and captures its standard output, standard
// error and exit status; feeds it files, pipes and FIFOs.
#ifndef AMPDOTS_TESTS_SUPPORT_RUN_TOOL_H_
#define AMPDOTS_TESTS_SUPPORT_RUN_TOOL_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"
#include "support/wav_builder.h"

namespace ampdots::testing {

inline constexpr char kBannerLine[] = "Ampdots 1.01 by Velbrand\n";

/// Whether the tool runs under an emulator (a build for another processor).
inline bool Emulated() { return std::string(AMPDOTS_EMULATOR).size() > 0; }

struct Ran {
  std::string out;
  std::string err;
  int status;
  long peakKiB = 0;  ///< the run's largest resident memory
};

inline std::string Drain(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
    text.append(chunk, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

inline int ExitStatus(int wstatus) {
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// Runs the tool with `args`, standard input from `in` (closed here), and
// standard output captured, or sent to `output` when one is named; on one
// processor only when `oneProcessor` says so. A run still going after
// `boundSeconds` (0: no bound) is ended by SIGALRM, status 142, so that a
// hang fails its test instead of stalling the suite.
inline Ran RunToolOn(const std::vector<std::string>& args, int in, const std::string& output,
                     bool oneProcessor = false, unsigned boundSeconds = 0) {
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {"", "pipe failed", -1};
  const pid_t pid = fork();
  if (pid == 0) {
    if (oneProcessor) {
      cpu_set_t set;
      if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
          if (!CPU_ISSET(cpu, &set)) continue;
          CPU_ZERO(&set);
          CPU_SET(cpu, &set);
          sched_setaffinity(0, sizeof set, &set);
          break;
        }
      }
    }
    dup2(in, 0);
    dup2(output.empty() ? outPipe[1] : open(output.c_str(), O_WRONLY), 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    signal(SIGPIPE, SIG_DFL);  // as a shell starts it, whatever the test runner does
    if (boundSeconds > 0) alarm(boundSeconds);  // kept across exec
    // Under the emulator's words, where the tool is built for another
    // processor.
    std::vector<std::string> words;
    std::istringstream emulator(AMPDOTS_EMULATOR);
    for (std::string word; emulator >> word;) words.push_back(word);
    words.emplace_back(AMPDOTS_BINARY);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in);
  close(outPipe[1]);
  close(errPipe[1]);
  Ran ran{Drain(outPipe[0]), Drain(errPipe[0]), -1};
  int wstatus = 0;
  rusage usage{};
  wait4(pid, &wstatus, 0, &usage);
  ran.status = ExitStatus(wstatus);
  ran.peakKiB = usage.ru_maxrss;
  return ran;
}

/// Runs the tool with standard input from the file at `input`.
inline Ran RunTool(const std::vector<std::string>& args, const std::string& input = "/dev/null",
                   const std::string& output = "") {
  return RunToolOn(args, open(input.c_str(), O_RDONLY), output);
}

/// A process that writes `bytes` to `fd` and ends with status 0 once all
/// are written, or 3 when the reader closed its end first. `readEnd`, the
/// pipe's other end, is closed in it, so that only the reader holds it.
inline pid_t StartWriter(const Bytes& bytes, int fd, int readEnd) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  close(readEnd);
  signal(SIGPIPE, SIG_IGN);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(errno == EPIPE ? 3 : 4);
    done += static_cast<std::size_t>(n);
  }
  _exit(0);
}

/// What a piped run printed, and how its writer ended.
struct PipedRun {
  Ran ran;
  int writerStatus;
};

/// Runs the tool with `bytes` coming through a pipe from another process.
inline PipedRun RunToolPiped(const std::vector<std::string>& args, const Bytes& bytes) {
  int fds[2];
  if (pipe(fds) != 0) return {{"", "pipe failed", -1}, -1};
  const pid_t writer = StartWriter(bytes, fds[1], fds[0]);
  close(fds[1]);
  PipedRun run{RunToolOn(args, fds[0], ""), -1};
  int wstatus = 0;
  waitpid(writer, &wstatus, 0);
  run.writerStatus = ExitStatus(wstatus);
  return run;
}

inline void ExpectRun(const Ran& ran, const std::string& out, int status) {
  EXPECT_EQ(ran.out, kBannerLine + out);
  EXPECT_EQ(ran.err, "");
  EXPECT_EQ(ran.status, status);
}

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_SUPPORT_RUN_TOOL_H_
