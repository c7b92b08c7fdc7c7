#!/usr/bin/env bash
# Installs what ampdots needs to build and test on Debian or Ubuntu, if it is
# not there yet: a C++20 compiler, CMake 3.25+, Ninja, GoogleTest, libfuse3
# and libebur128 with pkg-config (the tool alone needs only the first three;
# the tests build a small failing filesystem with libfuse3 and hold the
# loudness meter to libebur128, and skip those cases without them).
#   install-deps.sh [--ci]
set -euo pipefail

missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
[ -e /usr/lib/x86_64-linux-gnu/cmake/GTest ] || [ -e /usr/lib/cmake/GTest ] ||
  ls /usr/lib/*/cmake/GTest >/dev/null 2>&1 || missing+=(libgtest-dev)
command -v pkg-config >/dev/null || missing+=(pkg-config)
pkg-config --exists fuse3 2>/dev/null || missing+=(libfuse3-dev)
command -v fusermount3 >/dev/null || missing+=(fuse3)
pkg-config --exists libebur128 2>/dev/null || missing+=(libebur128-dev)
# --ci: also what continuous integration runs: clang with its fuzzing
# runtime, valgrind, the format and lint checkers, groff for the manual page,
# dpkg-dev for the package's dependencies, and the cross builds' tools.
if [ "${1:-}" = "--ci" ]; then
  command -v clang++ >/dev/null || missing+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1 ||
    missing+=(libclang-rt-dev)
  command -v valgrind >/dev/null || missing+=(valgrind)
  command -v clang-format >/dev/null || missing+=(clang-format)
  command -v cppcheck >/dev/null || missing+=(cppcheck)
  command -v groff >/dev/null || missing+=(groff)
  command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
  # Cross compilers and qemu-user, for the suite on 32-bit ARM and on
  # big-endian s390x (the cross presets build GoogleTest from the sources
  # libgtest-dev ships).
  command -v arm-linux-gnueabihf-g++ >/dev/null || missing+=(g++-arm-linux-gnueabihf)
  command -v s390x-linux-gnu-g++ >/dev/null || missing+=(g++-s390x-linux-gnu)
  { command -v qemu-arm && command -v qemu-s390x; } >/dev/null || missing+=(qemu-user)
fi

# The presets need CMake 3.25 or later (Debian 12, Ubuntu 23.04 and later
# ship it). An older one cannot be mended by apt on such a release.
check_cmake() {
  local version
  version=$(cmake --version | head -n 1 | awk '{ print $3 }')
  if [ "$(printf '%s\n3.25\n' "$version" | sort -V | head -n 1)" != "3.25" ]; then
    echo "CMake $version is older than 3.25, which the build presets need."
    echo "Install a newer one (for instance 'pip install cmake', or Kitware's apt repository),"
    echo "make sure it comes first on PATH, and run this script again."
    exit 1
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  check_cmake
  exit 0
fi
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
check_cmake
