#!/usr/bin/env bash
# Builds and runs every test: the native suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/deps.sh "${NATIVE_PACKAGES[@]}" clang libclang-rt-14-dev

mkdir -p build build-asan
configure_and_build build
ctest --test-dir build --output-on-failure -j "$(nproc)"

configure_and_build build-asan -DVARNEL_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
