#!/usr/bin/env bash
# Builds and runs every test: the plain configuration (warnings are errors), the
# AddressSanitizer + UndefinedBehaviorSanitizer configuration, the ThreadSanitizer
# configuration for the threaded tests, and each fuzz target for a bounded time.
#   NV_FUZZ_SECONDS   seconds per fuzz target (default 30; 0 skips fuzzing)
#   NV_CONFIGS        configurations to run (default "debug asan tsan fuzz")
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

FUZZ_SECONDS=${NV_FUZZ_SECONDS:-30}
CONFIGS=${NV_CONFIGS:-"debug asan tsan fuzz"}
JOBS=$(nproc)

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DNV_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

for cfg in $CONFIGS; do
  echo "=== $cfg ==="
  case $cfg in
    debug)
      configure build/debug -DCMAKE_BUILD_TYPE=Debug
      ctest --test-dir build/debug --output-on-failure -j "$JOBS" --timeout 300 ;;
    asan)
      configure build/asan -DCMAKE_BUILD_TYPE=Debug "-DNV_SANITIZE=address;undefined" -DNV_BENCH=OFF
      ctest --test-dir build/asan --output-on-failure -j "$JOBS" --timeout 600 ;;
    tsan)
      configure build/tsan -DCMAKE_BUILD_TYPE=Debug -DNV_SANITIZE=thread -DNV_BENCH=OFF
      ctest --test-dir build/tsan --output-on-failure -j "$JOBS" --timeout 600 -L threads --no-tests=ignore ;;
    fuzz)
      [ "$FUZZ_SECONDS" -gt 0 ] || continue
      configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DNV_FUZZ=ON -DNV_TESTS=OFF -DNV_BENCH=OFF
      list=build/fuzz/fuzzers.txt
      [ -f "$list" ] || { echo "no fuzz targets"; continue; }
      while read -r bin corpus; do
        work=$(mktemp -d)
        cp -r "$corpus"/. "$work"/ 2>/dev/null || true
        echo "fuzzing $(basename "$bin") for ${FUZZ_SECONDS}s"
        "$bin" -max_total_time="$FUZZ_SECONDS" -print_final_stats=0 "$work" >"$work.log" 2>&1 \
          || { tail -n 60 "$work.log"; exit 1; }
        rm -rf "$work" "$work.log"
      done < "$list" ;;
    *) echo "unknown configuration $cfg"; exit 2 ;;
  esac
done
echo "all configurations passed: $CONFIGS"
