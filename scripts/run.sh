#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the program and runs it on the simulated devices.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
build_dir="${BUILD_DIR:-build}"
exec "$build_dir/bin/tm_devices_list" "$@"
