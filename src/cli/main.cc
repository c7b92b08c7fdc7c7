// ampdots FILE START STOP [RESOLUTION [MAGNIFICATION]]
#include <unistd.h>

#include "cli/run.h"

namespace {

ampdots::Output stdoutBuffer;  // 64 KiB: static, not on the stack

}  // namespace

int main(int argc, char** argv) {
  stdoutBuffer.fd = STDOUT_FILENO;
  const int status = ampdots::Run(argc, argv, stdoutBuffer, ampdots::OpenSource);
  ampdots::Flush(stdoutBuffer);
  return status;
}
