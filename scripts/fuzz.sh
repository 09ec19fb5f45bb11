#!/usr/bin/env bash
# Fuzzes one of the targets under tests/fuzz with libFuzzer for a given time:
#
#   scripts/fuzz.sh <target> <seconds> [libFuzzer option...]
#   scripts/fuzz.sh --list
#
# Builds the target with clang (address and undefined-behaviour checks, coverage of all of the
# project's code) into ${BUILD_DIR:-build}-fuzz and starts from the target's corpus in the tree.
# Inputs that reach new code are kept in <build>-fuzz/fuzz/<target>/corpus; an input that fails
# is written there as crash-*, leak-*, timeout-* or oom-* and the run ends. To keep one: add it
# to tests/fuzz/corpus/<target> under a name that says what it holds. tests/fuzz/<target>.dict,
# where there is one, lists words of the target's input. The simulated library reports every line
# it skips on standard error: -close_fd_mask=2 quietens it (a failure is still reported).
set -euo pipefail
cd "$(dirname "$0")/.."
targets=$(ls tests/fuzz/corpus)
if [ "${1:-}" = --list ]; then
  echo "$targets"
  exit 0
fi
if [ $# -lt 2 ] || ! grep -qx -- "$1" <<<"$targets" || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 <target> <seconds> [libFuzzer option...]; targets:" $targets >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

scripts/deps.sh clang libclang-rt-14-dev
build_dir="${BUILD_DIR:-build}-fuzz"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$build_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTM_BUILD_FUZZERS=ON -DTM_BUILD_BENCHMARKS=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build_dir" -j"${FUZZ_JOBS:-4}" --target "fuzz_$target"

work="$build_dir/fuzz/$target"
mkdir -p "$work/corpus"
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$(pwd)/tests/fuzz/lsan.supp ${LSAN_OPTIONS:-}"
dict=()
[ -f "tests/fuzz/$target.dict" ] && dict=(-dict="tests/fuzz/$target.dict")
exec "$build_dir/bin/fuzz_$target" -max_total_time="$seconds" -artifact_prefix="$work/" -print_final_stats=1 \
  "${dict[@]}" "$@" "$work/corpus" "tests/fuzz/corpus/$target"
