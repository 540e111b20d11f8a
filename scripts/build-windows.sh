#!/usr/bin/env bash
# Builds the Windows DLLs (64-bit) with the mingw-w64 cross compiler into
# build-win-release/bin (varnel.dll, jvarnel.dll), without the test suite
# and its fault hook.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/deps.sh cmake ninja-build default-jdk-headless g++-mingw-w64-x86-64-posix
mkdir -p build-win-release
configure_and_build build-win-release -DCMAKE_TOOLCHAIN_FILE="$WINDOWS_TOOLCHAIN" -DVARNEL_TESTS=OFF
ls -l build-win-release/bin/*.dll
