#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
build_dir="${BUILD_DIR:-build}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
cd "$build_dir"
xvfb-run -a ctest --output-on-failure -j"$(nproc)" "$@"
