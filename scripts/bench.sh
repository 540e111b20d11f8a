#!/usr/bin/env bash
# Builds the benchmarks (without the test suite and its fault hook) into
# build-bench and runs them.
#
#   scripts/bench.sh                 both: the linker alone, then whole calls
#   scripts/bench.sh linker [ARGS]   the linker alone (ARGS go to linker_bench)
#   scripts/bench.sh call [ARGS]     whole Varnel calls against srec_cat
#                                    (ARGS go to call_bench: --runs N, --keep,
#                                    --dir DIR, --library PATH)
#
# Other work on the machine moves the figures: compare ratios of one run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/deps.sh "${NATIVE_PACKAGES[@]}"
mkdir -p build-bench
configure_and_build build-bench -DVARNEL_TESTS=OFF -DVARNEL_BENCHMARKS=ON > /dev/null
which="${1:-all}"
[ $# -gt 0 ] && shift
case "$which" in
  linker) build-bench/bin/linker_bench "$@" ;;
  call) build-bench/bin/call_bench "$@" ;;
  all) build-bench/bin/linker_bench && build-bench/bin/call_bench ;;
  *) echo "usage: scripts/bench.sh [linker|call] [ARGS...]" >&2; exit 2 ;;
esac
