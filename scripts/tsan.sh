#!/usr/bin/env bash
# ThreadSanitizer pass over the runtime-layer and Win32-layer tests and the device tests, built into
# ${BUILD_DIR:-build}-tsan (only the executables they need). Any report fails the pass.
#
# Qt's own library is not instrumented, so ThreadSanitizer cannot see a QMutex being taken or
# given back and would report everything one guards. scripts/tsan/qt_locks.cpp, preloaded into
# every test, tells it about them. scripts/tsan/canary.cpp checks first that an unguarded race is
# reported and that the same accesses under a QMutex are not.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}-tsan"
tests=(test_cef_logging test_cef_base test_cef_browser test_cef_script test_platform_win32
       test_devices test_platform_vqsim test_platform_vqsim_without_libvq test_platform_vqsim_without_hexlane)
flags="-fsanitize=thread -fno-omit-frame-pointer"

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DTM_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${tests[@]}" vq hexlane

shim="$build_dir/qt_locks.so"
g++ -std=c++17 -O1 -Wall -Wextra -shared -fPIC -o "$shim" scripts/tsan/qt_locks.cpp -ldl
# Qt's headers ask for position-independent code.
g++ -std=c++17 -g -Wall -Wextra -fPIC $flags -o "$build_dir/tsan_canary" scripts/tsan/canary.cpp \
  $(pkg-config --cflags --libs Qt5Core)
export TSAN_OPTIONS="second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
status=0
"$build_dir/tsan_canary" race 2>/dev/null || status=$?
if [ "$status" -ne 66 ]; then
  echo "ThreadSanitizer did not report the canary's race (exit $status)" >&2
  exit 1
fi
LD_PRELOAD="$shim" "$build_dir/tsan_canary" guarded

for t in "${tests[@]}"; do
  exe=$(find "$build_dir/bin" -name "$t" -type f)
  echo "== $t (thread sanitizer)"
  LD_PRELOAD="$shim" "$exe" --gtest_brief=1
done
