// Whether the upper halves of the processor's 256-bit registers are in use.
// A vector loop that returns with them so leaves every later SSE
// instruction (libm's among them) many times slower until some code clears
// them; the loops must leave them clear. Read through XGETBV's in-use
// bitmap, where the processor has it.
#ifndef AMPDOTS_TESTS_SUPPORT_VECTOR_STATE_H_
#define AMPDOTS_TESTS_SUPPORT_VECTOR_STATE_H_

#include <optional>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace ampdots::testing {

/// Clears the upper halves first, then says whether `loop()` left them in
/// use; nothing where the processor cannot say.
template <typename Loop>
std::optional<bool> LeavesUpperHalvesInUse(Loop loop) {
#if defined(__x86_64__)
  unsigned a = 0;
  unsigned b = 0;
  unsigned c = 0;
  unsigned d = 0;
  constexpr unsigned kOsXsave = 1u << 27;
  constexpr unsigned kAvx = 1u << 28;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & kOsXsave) == 0 || (c & kAvx) == 0) {
    return std::nullopt;
  }
  // Leaf 0xD, subleaf 1: XGETBV with ECX = 1 reads the in-use bitmap.
  if (!__get_cpuid_count(0xD, 1, &a, &b, &c, &d) || (a & 4) == 0) return std::nullopt;
  asm volatile("vzeroupper");
  loop();
  unsigned low = 0;
  unsigned high = 0;
  asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
  constexpr unsigned kUpperHalves = 1u << 2;
  return (low & kUpperHalves) != 0;
#else
  (void)loop;
  return std::nullopt;
#endif
}

}  // namespace ampdots::testing

#endif  // AMPDOTS_TESTS_SUPPORT_VECTOR_STATE_H_
