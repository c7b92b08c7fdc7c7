#!/usr/bin/env bash
# Installs what ampdots needs to build and test on Debian or Ubuntu, if it is
# not there yet: a C++20 compiler, CMake 3.25+, Ninja and GoogleTest.
#   install-deps.sh [--ci]
set -euo pipefail

missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
[ -e /usr/lib/x86_64-linux-gnu/cmake/GTest ] || [ -e /usr/lib/cmake/GTest ] ||
  ls /usr/lib/*/cmake/GTest >/dev/null 2>&1 || missing+=(libgtest-dev)
# --ci: also what continuous integration runs: clang with its fuzzing
# runtime, valgrind, the format and lint checkers, groff for the manual page
# and dpkg-dev for the package's dependencies.
if [ "${1:-}" = "--ci" ]; then
  command -v clang++ >/dev/null || missing+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1 ||
    missing+=(libclang-rt-dev)
  command -v valgrind >/dev/null || missing+=(valgrind)
  command -v clang-format >/dev/null || missing+=(clang-format)
  command -v cppcheck >/dev/null || missing+=(cppcheck)
  command -v groff >/dev/null || missing+=(groff)
  command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
