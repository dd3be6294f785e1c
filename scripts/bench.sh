#!/usr/bin/env bash
# Builds the benchmarks (bench preset), runs them and prints how many times faster than
# libpq's PQconninfoParse each connection-string function is, with the target ratios.
#
#   BENCH_REPETITIONS   repetitions per benchmark; the median is used (default 5)
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

# CSV rows: "name",iterations,real_time,cpu_time,time_unit,...; names of medians end in _median.
awk -F, '
  function ns(t, unit) { return unit == "us" ? t * 1e3 : unit == "ms" ? t * 1e6 : t }
  $1 ~ /_median"$/ {
    name = $1; gsub(/"|_median$/, "", name); sub(/_median$/, "", name)
    time[name] = ns($4, $5)
  }
  END {
    base = time["LibpqConninfoParse"]
    if (!base) { print "no baseline measured"; exit 1 }
    printf "\n%-28s %10s %8s %8s\n", "median CPU time", "ns/call", "x libpq", "target"
    n = split("SplitBothOut:3 SplitNullOut: EquivalentQuotedName:10 EquivalentDefaultNamespace:10 RecordParse:", rows, " ")
    for (i = 1; i <= n; i++) {
      split(rows[i], part, ":")
      if (!(part[1] in time)) continue
      ratio = base / time[part[1]]
      verdict = part[2] == "" ? "" : ratio >= part[2] ? ">= " part[2] " met" : ">= " part[2] " MISSED"
      printf "%-28s %10.1f %7.1fx %8s\n", part[1], time[part[1]], ratio, verdict
    }
    printf "%-28s %10.1f %7.1fx\n", "LibpqConninfoParse", base, 1
  }' "$csv"
