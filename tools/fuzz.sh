#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz
# and runs each for the given number of seconds, one after the other.
#
#   tools/fuzz.sh [seconds] [target...]
#
# seconds defaults to 60; 0 only replays the seed corpora once. Targets are
# named without the fuzz_ prefix (base64, ipc, ...); default: all of them.
# New inputs go to build-fuzz/corpus/<target> (kept between runs), findings
# to build-fuzz/findings/, the output of each run to build-fuzz/logs/.
# Exits non-zero when any target found something or did not build.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
shift || true
case "$SECONDS_EACH" in
  '' | *[!0-9]*) echo "usage: $0 [seconds] [target...]" >&2; exit 2 ;;
esac

DIR=build-fuzz
FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DTERVALA_FUZZ=ON
       -DTERVALA_BENCHMARKS=OFF)
if command -v ccache >/dev/null; then
  FLAGS+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$DIR" -G Ninja "${FLAGS[@]}" >/dev/null
cmake --build "$DIR" --target fuzzers -j"$(nproc)"

if (($#)); then
  TARGETS=("$@")
else
  mapfile -t TARGETS < <(cd "$DIR/tests/fuzz" && ls fuzz_* | sed -n 's/^fuzz_\([a-z0-9_]*\)$/\1/p' | sort)
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

# The targets write their files for every input: keep them off the disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

mkdir -p "$DIR/logs" "$DIR/findings"
failed=()
for t in "${TARGETS[@]}"; do
  exe="$DIR/tests/fuzz/fuzz_$t"
  seeds="tests/fuzz/corpus/$t"
  if [ ! -x "$exe" ]; then
    echo "fuzz_$t: no such target" >&2
    failed+=("$t")
    continue
  fi
  log="$DIR/logs/$t.log"
  args=(-artifact_prefix="$DIR/findings/$t-" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1)
  [ -f "tests/fuzz/$t.dict" ] && args+=(-dict="tests/fuzz/$t.dict")
  if [ "$SECONDS_EACH" -eq 0 ]; then
    # Replay: every seed once, nothing new is searched for.
    mapfile -t files < <(find "$seeds" -type f 2>/dev/null | sort)
    ((${#files[@]})) || { echo "fuzz_$t: no seeds in $seeds"; continue; }
    args+=(-runs=1)
    set -- "${files[@]}"
  else
    mkdir -p "$DIR/corpus/$t"
    args+=(-max_total_time="$SECONDS_EACH")
    set -- "$DIR/corpus/$t"
    [ -d "$seeds" ] && set -- "$@" "$seeds"
  fi
  if "$exe" "${args[@]}" "$@" >"$log" 2>&1; then
    stats=$(grep -E '^#[0-9]+.*(DONE|INITED)' "$log" | tail -1 || true)
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: ok  ${execs:+$execs runs  }${stats:+[$stats]}"
  else
    echo "fuzz_$t: FAILED (log: $log)"
    grep -E 'ERROR|property failed|SUMMARY|Test unit written|runtime error' "$log" | head -20 || true
    failed+=("$t")
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found problems in: ${failed[*]} (inputs in $DIR/findings/)" >&2
  exit 1
fi
