#!/usr/bin/env bash
# ThreadSanitizer pass over the runtime-layer tests, the device tests, the Win32 layer's, the
# browser bridge's and the shell's, built into ${BUILD_DIR:-build}-tsan (only the executables they
# need; JOBS compile jobs, all processors unless given). Any report fails the pass.
#
# Qt's own library is not instrumented, so ThreadSanitizer cannot see a QMutex being taken or
# given back, nor a QWaitCondition giving its mutex back while it waits, and would report
# everything one guards. scripts/tsan/qt_locks.cpp, preloaded into every test, tells it about
# them; it also lets processes without the sanitizer start under it. scripts/tsan/canary.cpp
# checks first that an unguarded race is reported, that the same accesses under a QMutex are not,
# that accesses ordered by a wait are reported only while the wait is not made visible, and that
# a race between posting events is still reported.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}-tsan"
tests=(test_cef_logging test_cef_base test_cef_browser test_cef_script
       test_devices test_platform_vqsim test_platform_vqsim_without_libvq test_platform_vqsim_without_hexlane
       test_platform_win32 test_platform_win32_cursor test_cefclient test_app)
flags="-fsanitize=thread -fno-omit-frame-pointer"

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DTM_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build_dir" -j"${JOBS:-$(nproc)}" --target "${tests[@]}" vq hexlane

shim="$build_dir/qt_locks.so"
g++ -std=c++17 -O1 -Wall -Wextra -shared -fPIC -o "$shim" scripts/tsan/qt_locks.cpp -ldl
g++ -std=c++17 -O1 -Wall -Wextra -shared -fPIC -DTM_QT_LOCKS_WITHOUT_WAIT -o "$build_dir/qt_locks_without_wait.so" \
  scripts/tsan/qt_locks.cpp -ldl
# Qt's headers ask for position-independent code.
qt_core=$(pkg-config --cflags --libs Qt5Core)
g++ -std=c++17 -g -Wall -Wextra -fPIC $flags -o "$build_dir/tsan_canary" scripts/tsan/canary.cpp $qt_core
g++ -std=c++17 -g -Wall -Wextra -fPIC -o "$build_dir/tsan_canary_plain" scripts/tsan/canary.cpp $qt_core
# What Qt's own code does to memory (its allocations, copies and frees, as on its thread pool, its
# network threads and its event queue) is not watched: only the accesses of the instrumented code
# are, so a race is one between accesses of ours.
export TSAN_OPTIONS="second_deadlock_stack=1 ignore_noninstrumented_modules=1 ${TSAN_OPTIONS:-}"
# expect_report <what> <command...>: the command must end with the sanitizer's report code.
expect_report() {
  local what=$1 status=0
  shift
  "$@" 2>/dev/null || status=$?
  if [ "$status" -ne 66 ]; then
    echo "ThreadSanitizer did not report the canary's $what (exit $status)" >&2
    exit 1
  fi
}
expect_report race "$build_dir/tsan_canary" race
LD_PRELOAD="$shim" "$build_dir/tsan_canary" guarded
expect_report "accesses around an unmarked wait" \
  env LD_PRELOAD="$build_dir/qt_locks_without_wait.so" "$build_dir/tsan_canary" waiting
LD_PRELOAD="$shim" "$build_dir/tsan_canary" waiting
expect_report "race between posting events" env LD_PRELOAD="$shim" "$build_dir/tsan_canary" posting
# A process without the sanitizer, as the page engine's helper process is, runs under the shim.
LD_PRELOAD="$shim" "$build_dir/tsan_canary_plain" waiting

# Left out of the shell's tests: the crash handler's, which fork and crash on purpose (the sanitizer
# cannot start threads after a multi-threaded fork), and the window's tests of the macro worker and
# the capture loop (the held-key table among them), whose threads signal the window through Qt's
# event queue, a hand-off the shim cannot see (the worker and the loop run under the checker on
# their own in the device tests).
app_filter="-CrashDumps.*:Crashes/*:MacroWindowTest.*:CaptureWindowTest.*:Mappings/HeldAtTheEnd.*"
for t in "${tests[@]}"; do
  exe=$(find "$build_dir/bin" -name "$t" -type f)
  echo "== $t (thread sanitizer)"
  case "$t" in
    test_app) LD_PRELOAD="$shim" "$exe" --gtest_brief=1 --gtest_filter="$app_filter" ;;
    *) LD_PRELOAD="$shim" "$exe" --gtest_brief=1 ;;
  esac
done
