#include "io/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace ampdots {

TerminalSize TerminalSizeOf(int fd) {
  TerminalSize size;
  winsize window{};
  if (isatty(fd) == 0 || ioctl(fd, TIOCGWINSZ, &window) != 0) return size;
  size.columns = window.ws_col;
  size.rows = window.ws_row;
  return size;
}

}  // namespace ampdots
