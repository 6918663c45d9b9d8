#!/usr/bin/env bash
# Installs what is missing and builds the Debian package build/package/vqgateway_<version>_<arch>.deb
# from a Release build of the program, installed under /usr.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Debian's own build flags, with every hardening feature: fortified C library calls, stack
# protector, relocations made read-only and bound at start, and paths free of this directory.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# A build directory made earlier by another generator is made anew.
grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$' build/package/CMakeCache.txt || rm -rf build/package
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@" >/dev/null
cmake --build build/package --target vqgateway -j"$(nproc)"
(cd build/package && rm -f vqgateway_*.deb && cpack -G DEB >/dev/null)
ls build/package/vqgateway_*.deb
