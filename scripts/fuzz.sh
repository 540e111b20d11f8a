#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer
# and libFuzzer) and runs each over its seeds and then for a bounded time.
#
#   scripts/fuzz.sh                     every target for 20 s
#   scripts/fuzz.sh SECONDS [JOBS] [TARGET...]
#                                       the long run: SECONDS per target,
#                                       JOBS targets side by side
#                                       (default: all cores but one)
#
# Each target's own corpus grows in build-fuzz/runs/<target>/corpus and its
# log is build-fuzz/runs/<target>/log; a finding is written to
# build-fuzz/runs/<target>/ and makes the script exit non-zero.  One run of
# the script at a time: runs share those directories.
set -euo pipefail
cd "$(dirname "$0")/.."

ALL_TARGETS=(records submit arg packed status firmware rp supplement varnel)
seconds="${1:-20}"
jobs="${2:-$(( $(nproc) > 1 ? $(nproc) - 1 : 1 ))}"
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${ALL_TARGETS[@]}")

# Only the fuzz targets and what they link: the shared objects of the tree
# are not built with the fuzzer's runtime.
mkdir -p build-fuzz
{ CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVARNEL_FUZZ=ON -DVARNEL_TESTS=OFF -DVARNEL_WERROR=ON \
    && cmake --build build-fuzz --target fuzz_all -j "$(nproc)"; } \
  > build-fuzz/build.log 2>&1 || { tail -50 build-fuzz/build.log; exit 1; }

# The objects, firmware and packed files a target takes are larger than
# libFuzzer's default limit of 4096 bytes.
max_len() {
  case "$1" in
    packed|firmware|rp|varnel|records) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

run_target() {  # target; 1 on a finding
  local t="$1" dir="build-fuzz/runs/$1"
  mkdir -p "$dir/corpus"
  # A hang counts as a finding, and so does a leak of memory.
  if build-fuzz/bin/fuzz_"$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 \
       -rss_limit_mb=2048 -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$dir/" \
       "$dir/corpus" "fuzz/corpus/$t" > "$dir/log" 2>&1; then
    echo "fuzz_$t: no finding in ${seconds} s ($(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$') runs)"
  else
    echo "fuzz_$t: FINDING, see $dir/log"
    grep -aE 'ERROR|SUMMARY|Test unit written' "$dir/log" | head -5
    return 1
  fi
}

export seconds
export -f run_target max_len
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target "$1"' _ {}
