#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs the whole test suite.
# The runtime-layer, Win32-layer and device tests, and the fuzz targets' corpora (tests/fuzz), also
# run under AddressSanitizer/UBSan first, then the runtime-layer, device, Win32-layer, bridge and
# shell tests under ThreadSanitizer (scripts/tsan.sh). The shell's and the update subsystem's test
# binaries run whole and shuffled before the suite. SKIP_SANITIZERS=1 skips both passes; JOBS sets
# how many compile jobs and tests run at once (all processors unless given).
# The suite itself runs with nothing reachable beyond 127.0.0.1 and fails when any test sent a packet
# elsewhere (scripts/loopback_only.sh; needs root or user namespaces). SKIP_NETWORK_CHECK=1 runs it
# without that proof.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh iproute2 python3
build_dir="${BUILD_DIR:-build}"
jobs="${JOBS:-$(nproc)}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"

if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
  asan_dir="${build_dir}-asan"
  asan_targets=(test_cef_base test_cef_browser test_cef_script test_devices test_platform_vqsim
                test_platform_win32 test_cefclient test_cefclient_renderer)
  corpora=(tests/fuzz/corpus/*)
  replays=()
  for corpus in "${corpora[@]}"; do replays+=("fuzz_$(basename "$corpus")_replay"); done
  flags="-fsanitize=address,undefined -fno-omit-frame-pointer"
  cmake -S . -B "$asan_dir" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$flags -fno-sanitize-recover=undefined" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
  cmake --build "$asan_dir" -j"$jobs" --target "${asan_targets[@]}" "${replays[@]}" vq hexlane
  for t in "${asan_targets[@]}"; do
    echo "== $t (address and undefined-behaviour sanitizers)"
    case "$t" in
      # The main window keeps its list reader, and the test application lives for the whole process.
      test_devices|test_cefclient) ASAN_OPTIONS=detect_leaks=0 "$asan_dir/bin/$t" --gtest_brief=1 ;;
      *) "$asan_dir/bin/$t" --gtest_brief=1 ;;
    esac
  done
  for corpus in "${corpora[@]}"; do
    name=$(basename "$corpus")
    echo "== $corpus (address and undefined-behaviour sanitizers)"
    case "$name" in
      # The target keeps its application and main window for the whole process, as the program does.
      device_texts) ASAN_OPTIONS=detect_leaks=0 "$asan_dir/bin/fuzz_${name}_replay" "$corpus" ;;
      *) "$asan_dir/bin/fuzz_${name}_replay" "$corpus" ;;
    esac
  done
  BUILD_DIR="$build_dir" scripts/tsan.sh
fi

scripts/build.sh
isolate=("$PWD/scripts/loopback_only.sh")
[ "${SKIP_NETWORK_CHECK:-0}" != 1 ] || isolate=()
cd "$build_dir"
# The shell's and the update subsystem's binaries also pass run whole, their cases in a new order
# each time (the seed is printed), as a developer runs them directly.
for t in test_app test_app_engine test_program test_entry test_update test_update_program; do
  seed=$((RANDOM % 99999 + 1))
  echo "== $t (whole, shuffled with --gtest_random_seed=$seed)"
  "${isolate[@]}" xvfb-run -a "bin/$t" --gtest_shuffle --gtest_random_seed="$seed" --gtest_brief=1
done
"${isolate[@]}" xvfb-run -a ctest --output-on-failure -j"$jobs" "$@"
