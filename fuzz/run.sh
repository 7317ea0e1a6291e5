#!/usr/bin/env bash
# Configures and builds the fuzz preset (clang, address and undefined-behaviour
# sanitizers, libFuzzer), then runs every fuzz target for a while.
#
#   fuzz/run.sh [seconds] [target ...]
#
# seconds   time per target (default: $KES_FUZZ_SECONDS, else 30)
# target    names such as fuzz_ipaddress or ipaddress (default: every
#           fuzz/fuzz_*.cpp)
#
# Environment:
#   KES_FUZZ_BUILD_DIR  build directory (default: build/fuzz, the preset's)
#   KES_FUZZ_ARTIFACTS  where crashing inputs are kept
#                       (default: <build dir>/fuzz-artifacts)
#   KES_FUZZ_JOBS       build jobs (default: 2)
#
# Each target starts from its seeds in fuzz/corpus/<name>/ and the kept crash
# inputs in tests/fuzz/regressions/<name>/, working on a copy so that the
# checkout is never changed, and uses fuzz/fuzz_<name>.dict when there is one.
# The exit status is 0 when every target ran its time without a crash, leak or
# broken invariant, 1 otherwise (the failing inputs are listed), and 2 when
# the build fails.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${KES_FUZZ_SECONDS:-30}"
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
  seconds="$1"
  shift
fi
build="${KES_FUZZ_BUILD_DIR:-$root/build/fuzz}"
artifacts="${KES_FUZZ_ARTIFACTS:-$build/fuzz-artifacts}"
jobs="${KES_FUZZ_JOBS:-2}"

targets=()
if [[ $# -gt 0 ]]; then
  for name in "$@"; do
    name="${name#fuzz_}"
    if [[ ! -f "$root/fuzz/fuzz_$name.cpp" ]]; then
      echo "fuzz/run.sh: no target fuzz_$name (fuzz/fuzz_$name.cpp)" >&2
      exit 2
    fi
    targets+=("fuzz_$name")
  done
else
  for source in "$root"/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/kesfuzz-XXXXXX")"
trap 'rm -rf "$work"' EXIT

echo "== configuring and building the fuzz preset in $build"
if ! (cd "$root" && cmake --preset fuzz -B "$build") >"$work/configure.log" 2>&1; then
  cat "$work/configure.log" >&2
  exit 2
fi
if ! cmake --build "$build" -j "$jobs" --target "${targets[@]}"; then
  exit 2
fi

mkdir -p "$artifacts"
# Failures are reported to the event log; keep it away from the user's store.
export KES_HOME="$work/home"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  corpus="$work/corpus-$name"
  mkdir -p "$corpus"
  for seeds in "$root/fuzz/corpus/$name" "$root/tests/fuzz/regressions/$name"; do
    if [[ -d "$seeds" ]]; then
      cp -r "$seeds"/. "$corpus"/
    fi
  done
  options=(-max_total_time="$seconds" -print_final_stats=1
           -artifact_prefix="$artifacts/$name-" -timeout=10 -rss_limit_mb=2048)
  if [[ -f "$root/fuzz/$target.dict" ]]; then
    options+=(-dict="$root/fuzz/$target.dict")
  fi
  echo "== $target for ${seconds}s"
  log="$work/$name.log"
  if "$build/bin/$target" "${options[@]}" "$corpus" >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
  else
    echo "!! $target failed; its output ends:" >&2
    tail -n 40 "$log" >&2
    failed+=("$target")
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz/run.sh: failed: ${failed[*]}; inputs kept in $artifacts" >&2
  ls -l "$artifacts" >&2 || true
  exit 1
fi
echo "fuzz/run.sh: every target ran ${seconds}s without a failure"
