# Cross-builds for another Linux processor with Debian's cross compilers,
# and runs what is built there under qemu-user. AMPDOTS_CROSS names the
# target's triple (arm-linux-gnueabihf, s390x-linux-gnu, ...); the
# compiler is ${AMPDOTS_CROSS}-g++, its C library under /usr/${AMPDOTS_CROSS}.
set(CMAKE_SYSTEM_NAME Linux)
if(NOT AMPDOTS_CROSS)
  message(FATAL_ERROR "set AMPDOTS_CROSS to the target's triple")
endif()
# The compiler checks' own projects need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AMPDOTS_CROSS)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${AMPDOTS_CROSS}")
set(CMAKE_CXX_COMPILER ${AMPDOTS_CROSS}-g++)
set(CMAKE_C_COMPILER ${AMPDOTS_CROSS}-gcc)
set(CMAKE_FIND_ROOT_PATH /usr/${AMPDOTS_CROSS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu's name for the processor: arm for armhf, the triple's first part
# otherwise (s390x, ppc for 32-bit PowerPC).
set(qemu ${CMAKE_SYSTEM_PROCESSOR})
if(qemu STREQUAL "powerpc")
  set(qemu ppc)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu} -L /usr/${AMPDOTS_CROSS})
