# Configures (never builds) the project as for macOS on this machine, so the link lines can be read.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
find_program(KORVANE_CLANGXX clang++ REQUIRED)
find_program(KORVANE_CLANG clang REQUIRED)
set(CMAKE_C_COMPILER ${KORVANE_CLANG})
set(CMAKE_CXX_COMPILER ${KORVANE_CLANGXX})
set(CMAKE_OBJCXX_COMPILER ${KORVANE_CLANGXX})
# There is no Mach-O linker here: no test program is linked, and no install name is ever changed.
set(CMAKE_C_COMPILER_WORKS TRUE)
set(CMAKE_CXX_COMPILER_WORKS TRUE)
set(CMAKE_OBJCXX_COMPILER_WORKS TRUE)
set(CMAKE_INSTALL_NAME_TOOL /bin/true)
# A sysroot that is a directory: CMake then asks no SDK which architectures it has (a universal build would).
set(CMAKE_OSX_SYSROOT / CACHE PATH "")
