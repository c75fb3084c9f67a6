#!/usr/bin/env bash
# Builds the libFuzzer harnesses (the fuzz preset, clang with ASan + UBSan) and
# runs each one for a bounded time, two at a time (one per core), from its seed
# corpus in fuzz/corpus/<harness>. Inputs found on the way are kept in
# build/fuzz/run/corpus/<harness> (a later run goes on from them), findings in
# build/fuzz/run/findings/<harness>/ and each run's output in
# build/fuzz/run/<harness>.log. Fails when any harness reports a finding.
#
# Usage: scripts/fuzz.sh [seconds per harness, default 60] [harness ...]
# (harness names as in fuzz/corpus; default all of them).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift $(($# > 0 ? 1 : 0))
bash scripts/setup.sh base clang
cmake --workflow --preset fuzz >/dev/null

bin=build/fuzz/fuzz
out=build/fuzz/run
harnesses=("$@")
if ((${#harnesses[@]} == 0)); then
  for exe in "$bin"/fuzz_*; do harnesses+=("${exe#"$bin"/fuzz_}"); done
fi

run_one() {
  local h=$1
  mkdir -p "$out/corpus/$h" "$out/findings/$h"
  local rc=0
  "$bin/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 \
    -print_final_stats=1 -artifact_prefix="$out/findings/$h/" \
    "$out/corpus/$h" "fuzz/corpus/$h" >"$out/$h.log" 2>&1 || rc=$?
  local execs cov
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out/$h.log")
  cov=$(grep -o 'cov: [0-9]*' "$out/$h.log" | tail -n 1)
  if ((rc == 0)); then
    echo "fuzz: $h passed (${seconds} s, ${execs:-?} exec/s, ${cov:-no coverage line})"
  else
    echo "fuzz: $h FAILED (exit $rc); see $out/$h.log and $out/findings/$h/"
    grep -m 3 -E 'ERROR|oracle failed|SUMMARY' "$out/$h.log" | sed 's/^/fuzz:   /' || true
  fi
  return "$rc"
}

mkdir -p "$out"
failed=0
running=0
for h in "${harnesses[@]}"; do
  if ((running == 2)); then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_one "$h" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || failed=1
  running=$((running - 1))
done
if ((failed)); then
  echo "fuzz: findings reported"
  exit 1
fi
echo "fuzz: ${#harnesses[@]} harnesses ran ${seconds} s each without a finding"
