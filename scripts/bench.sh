#!/usr/bin/env bash
# Builds the benchmarks (bench preset), runs them and prints how many times faster than
# libpq's PQconninfoParse each connection-string function is, with the target ratios.
# The ratios are reported, not enforced: the exit status tells only whether the run worked.
#
#   BENCH_REPETITIONS   repetitions per benchmark (default 5)
#   Further arguments go to the benchmark program, e.g. --benchmark_min_time=2
set -euo pipefail

cd "$(dirname "$0")/.."
repetitions="${BENCH_REPETITIONS:-5}"

cmake --preset bench >/dev/null
cmake --build --preset bench

csv="$(mktemp)"
trap 'rm -f "$csv"' EXIT
build/bench/bench/connstring_bench --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$csv" --benchmark_out_format=csv "$@"

# CSV rows: "name",iterations,real_time,cpu_time,time_unit,... The aggregates are named
# NAME_median and NAME_min; ratios use the fastest repetition, the figure least disturbed by
# other load on a shared machine.
awk -F, '
  function ns(t, unit) { return unit == "us" ? t * 1e3 : unit == "ms" ? t * 1e6 : t }
  $1 ~ /_(median|min)"$/ {
    name = $1; gsub(/"/, "", name)
    stat = name; sub(/.*_/, "", stat); sub(/_[a-z]+$/, "", name)
    time[name, stat] = ns($4, $5)
  }
  END {
    base = time["LibpqConninfoParse", "min"]
    if (!base) { print "no baseline measured"; exit 1 }
    printf "\n%-28s %9s %9s %8s  %s\n", "CPU time, ns per call", "fastest", "median", "x libpq", "target"
    n = split("SplitBothOut:3 SplitNullOut: EquivalentQuotedName:10 EquivalentDefaultNamespace:10 RecordParse: LibpqConninfoParse:", rows, " ")
    for (i = 1; i <= n; i++) {
      split(rows[i], part, ":")
      fastest = time[part[1], "min"]
      if (!fastest) continue
      ratio = base / fastest
      verdict = part[2] == "" ? "" : ratio >= part[2] ? ">= " part[2] "x met" : ">= " part[2] "x MISSED"
      printf "%-28s %9.1f %9.1f %7.1fx  %s\n", part[1], fastest, time[part[1], "median"], ratio, verdict
    }
  }' "$csv"
