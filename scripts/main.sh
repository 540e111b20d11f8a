#!/usr/bin/env bash
# The main job: builds varnel and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/deps.sh "${NATIVE_PACKAGES[@]}"
mkdir -p build
configure_and_build build -DVARNEL_TESTS=OFF
build/bin/varnel-run --version

# The example module: an Exec 3.2 module without a driver, linked from the
# plain objects of examples/lib/ (named by the ARG file's first line).
work=build/example/
rm -rf "$work"
mkdir -p "$work"
cp examples/MODULE.ARG "$work"
status=0
build/bin/varnel-run MODULE.ARG - "$work" MODULE.LOG MODULE.SUB MODULE.S1 || status=$?
echo "head of the S1 download file:"
head -n 5 "$work/MODULE.S1" || true
exit "$status"
