#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer) into build-fuzz/ and runs each for SECONDS seconds
# (default 20) from its committed seeds. New inputs the fuzzer finds go to a scratch directory, not
# to the seeds; a crash stops the run with the input saved as build-fuzz/findings/<target>/crash-*.
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds="${1:-20}"
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(fuzz_listing fuzz_reply fuzz_address fuzz_paths fuzz_ini fuzz_definitions)
fi
build="$top/build-fuzz"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
werror=OFF
case "${CI:-}" in 1 | true) werror=ON ;; esac  # warnings fail the build under CI, as in scripts/build.sh
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DNIMBO_FUZZ=ON -DBUILD_TESTING=OFF -DNIMBO_WERROR="$werror" \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null

status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  scratch=$(mktemp -d)
  findings="$build/findings/$t"
  mkdir -p "$findings"
  log="$build/findings/$t.log"
  # -rss_limit_mb: the parsers must not need much memory, whatever the input.
  if "$build/fuzz/$t" "$scratch" "$top/fuzz/corpus/$name" -max_total_time="$seconds" -rss_limit_mb=1024 \
    -max_len=65536 -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$t: $result, ${runs:-?} executions in ${seconds} s (log: $log)"
  [ "$result" = ok ] || tail -n 30 "$log"
  rm -rf "$scratch"
done
exit $status
