#!/usr/bin/env bash
# The main job: builds varnel and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
scripts/deps.sh "${NATIVE_PACKAGES[@]}"
mkdir -p build
configure_and_build build -DVARNEL_TESTS=OFF
build/bin/varnel-run --version
