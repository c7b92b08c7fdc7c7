// ampdots FILE START STOP [RESOLUTION [MAGNIFICATION]]
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/run.h"
#include "io/terminal.h"

namespace {

ampdots::Output stdoutBuffer;  // 128 KiB: static, not on the stack
ampdots::Output stderrBuffer;

// Standard output is unusable here, so this one message goes to standard
// error. A closed pipe is not worth one: the reader has seen what it wanted.
void ReportWriteFailure(int error) {
  if (error == EPIPE) return;
  const std::string_view parts[] = {
      "ampdots: cannot write to standard output: ", std::strerror(error), "\n"};
  for (std::string_view part : parts) {
    if (write(STDERR_FILENO, part.data(), part.size()) < 0) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  stdoutBuffer.fd = STDOUT_FILENO;
  stderrBuffer.fd = STDERR_FILENO;
  const ampdots::TerminalSize terminal = ampdots::TerminalSizeOf(STDOUT_FILENO);
  ampdots::Surroundings around;
  around.columns = terminal.columns;
  around.rows = terminal.rows;
  around.columnsVariable = std::getenv("COLUMNS");
  around.utf8 =
      ampdots::LocaleIsUtf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
  const int status =
      ampdots::Run(argc, argv, stdoutBuffer, stderrBuffer, ampdots::OpenSource, around);
  const bool shown = ampdots::Flush(stdoutBuffer);
  ampdots::Flush(stderrBuffer);
  if (!shown) {
    // A picture that could not be shown is not a success.
    ReportWriteFailure(stdoutBuffer.error);
    return 2;
  }
  return status;
}
