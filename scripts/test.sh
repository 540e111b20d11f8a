#!/usr/bin/env bash
# Builds and runs every test: the native suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, each fuzz target for a
# short time, and the Windows build's suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/deps.sh "${NATIVE_PACKAGES[@]}" clang libclang-rt-14-dev "${WINDOWS_PACKAGES[@]}"

# The tests build in folders of their own: build/ is the main job's, and
# running the tests never reconfigures it.
mkdir -p build-test build-asan build-release build-win
configure_and_build build-test -DVARNEL_TESTS=ON
ctest --test-dir build-test --output-on-failure -j "$(nproc)"

# GCC warns of more at -O3 than at -O2, so the suite is built and run once
# in a Release build too.
CC=gcc CXX=g++ configure_and_build build-release -DCMAKE_BUILD_TYPE=Release -DVARNEL_TESTS=ON
ctest --test-dir build-release --output-on-failure -j "$(nproc)"

configure_and_build build-asan -DVARNEL_TESTS=ON -DVARNEL_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

# Each fuzz target over its seeds and for a short time, so that a reader's
# regression fails here.
scripts/fuzz.sh

# Test discovery runs the Windows test programs during the build, so the
# Wine server starts first.
trap stop_wine EXIT
start_wine build-win/wineprefix
configure_and_build build-win -DCMAKE_TOOLCHAIN_FILE="$WINDOWS_TOOLCHAIN" -DVARNEL_TESTS=ON
ctest --test-dir build-win --output-on-failure -j "$(nproc)"
