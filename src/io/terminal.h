// The size of the terminal a descriptor writes to, if it is one.
#ifndef AMPDOTS_IO_TERMINAL_H_
#define AMPDOTS_IO_TERMINAL_H_

#include <cstdint>

namespace ampdots {

struct TerminalSize {
  std::uint32_t columns = 0;  ///< 0: not a terminal, or one that does not say
  std::uint32_t rows = 0;
};

TerminalSize TerminalSizeOf(int fd);

}  // namespace ampdots

#endif  // AMPDOTS_IO_TERMINAL_H_
