#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, address and undefined-
# behaviour sanitizers) and runs each one for a short while over its seeds.
#
#   KORVANE_FUZZ_SECONDS   how long each target runs (default 20)
#   KORVANE_FUZZ_TARGETS   only these targets, e.g. "frame identity"
#
# New inputs go to build/fuzz/fuzz-corpus/<name>/, crashes to
# build/fuzz/fuzz-artifacts/; the seed folders in the tree are only read.
# A crash input replays with: build/fuzz/tests/fuzz/<name>_fuzz <file>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${KORVANE_FUZZ_SECONDS:-20}
jobs=$(nproc)

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing; tools/install-deps.sh installs it" >&2
  exit 1
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target korvane_fuzz_targets

bin=build/fuzz/tests/fuzz
work=build/fuzz/fuzz-corpus
artifacts=build/fuzz/fuzz-artifacts
mkdir -p "$work" "$artifacts"

if [ -n "${KORVANE_FUZZ_TARGETS:-}" ]; then
  names=($KORVANE_FUZZ_TARGETS)
else
  names=()
  for source in tests/fuzz/*_fuzz.cpp; do
    base=$(basename "$source" .cpp)
    names+=("${base%_fuzz}")
  done
fi

# Leak checking needs ptrace, which some containers refuse; the sanitizers
# that matter here (address, undefined) work without it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for name in "${names[@]}"; do
  target="$bin/${name}_fuzz"
  seeds="tests/fuzz/corpus/$name"
  if [ ! -x "$target" ]; then
    echo "fuzz.sh: no target $target" >&2
    failed+=("$name")
    continue
  fi
  mkdir -p "$work/$name"
  echo "== $name: ${seconds}s"
  folders=("$work/$name")
  [ -d "$seeds" ] && folders+=("$seeds")
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/${name}-" "${folders[@]}"; then
    failed+=("$name")
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz.sh: failures in: ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
echo "fuzz.sh: all targets ran clean"
