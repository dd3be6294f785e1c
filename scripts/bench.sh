#!/usr/bin/env bash
# Builds the benchmarks (bench preset), runs them and prints a summary with the target ratios:
#   - connection strings: how many times faster than libpq's PQconninfoParse;
#   - the connection store: save and load of 10,000 connections through the table on the
#     SQLite hive against raw SQLite writing and reading the same rows in one transaction,
#     fsyncs per save at 10, 1,000 and 10,000 connections (counted with strace), lookup by
#     name at 10 and at 100,000 connections, and unixODBC's odbc.ini store at 500 entries;
#   - the same 10,000 saved and loaded by the Windows build under Wine's registry (a scratch
#     MinGW-w64 build in build/bench-mingw-x64, run in a Wine prefix made for the run).
#   - start-up: the first export call of a new process, in English and in German (Austria);
#   - the command-line tool at 1,000, 10,000 and 100,000 connections: show, set, delete,
#     default, list and export, each a whole process (fastest of BENCH_CLI_RUNS), against the
#     sqlite3 shell doing the same on a plain table of (name, connection string) of the same rows.
# Installs the Debian packages it misses (with apt-get, as root or through sudo).
# The ratios are reported, not enforced: the exit status tells only whether the run worked.
#
#   BENCH_REPETITIONS   repetitions per benchmark (default 5); ratios use the fastest
#   BENCH_WINE=0        leaves out the Wine timing
#   BENCH_CLI=0         leaves out the command-line tool; BENCH_CLI_RUNS runs of each (default 7)
#   BENCH_CMAKE_ARGS    further arguments for configuring the bench preset
#   Further arguments go to both benchmark programs, e.g. --benchmark_min_time=2
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$TAVIX_ROOT"

repetitions="${BENCH_REPETITIONS:-5}"
wine="${BENCH_WINE:-1}"
bench_dir=build/bench
wine_dir=build/bench-mingw-x64

tavix_require_packages "${TAVIX_BUILD_PACKAGES[@]}" libbenchmark-dev libpq-dev libsqlite3-dev \
    libpng-dev unixodbc-dev strace sqlite3
if [ "$wine" != 0 ]; then
    tavix_require_packages g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine
fi

# shellcheck disable=SC2086  # BENCH_CMAKE_ARGS is a list of arguments
cmake --preset bench ${BENCH_CMAKE_ARGS:-} >/dev/null
cmake --build --preset bench --parallel "$(nproc)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

run_bench() {
    local program=$1 csv=$2
    shift 2
    "$bench_dir/bench/$program" --benchmark_repetitions="$repetitions" \
        --benchmark_report_aggregates_only=true \
        --benchmark_out="$csv" --benchmark_out_format=csv "$@"
}

echo "== load: $(uptime)"
run_bench connstring_bench "$work/connstring.csv" "$@"
run_bench store_bench "$work/store.csv" "$@"

# Fsyncs of one save: the probe saves N connections 6 times through the table (into an empty
# key, then over the same N) and 6 times through raw SQLite, each between marker lines on
# standard error; strace sees the markers as writes to fd 2.
for n in 10 1000 10000; do
    strace -f -e trace=fsync,fdatasync,write -o "$work/strace.$n" \
        "$bench_dir/bench/store_bench" --save-probe="$n" 2>"$work/probe.$n.txt" ||
        { cat "$work/probe.$n.txt"; exit 1; }
done

# Save and load through the Windows build under Wine's registry.
wine_status=skipped
if [ "$wine" != 0 ]; then
    cmake --preset mingw-x64 -B "$wine_dir" -DTAVIX_BENCH=ON -DTAVIX_TESTS=OFF >/dev/null
    cmake --build "$wine_dir" --target wine_store_timing --parallel "$(nproc)"
    prefix_dir="$(mktemp -d)"
    if (
        # Without a display there is no desktop for Wine's explorer to run: trying to start it
        # for every program costs seconds each.
        export WINEPREFIX="$prefix_dir/prefix" WINEDEBUG=-all
        export WINEDLLOVERRIDES="mscoree,mshtml=;explorer.exe=d"
        export HOME="${HOME:-$prefix_dir}"
        unset DISPLAY
        status=0
        # A persistent wineserver keeps the program's start fast (it fails harmlessly when the
        # server that wineboot started is still running).
        { wineboot -i >/dev/null 2>&1 && { wineserver -p 2>/dev/null || true; } &&
            /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 &&
            /usr/lib/wine/wine64 "$wine_dir/bench/wine_store_timing.exe" 10000 "$repetitions" \
                >"$work/wine.txt" 2>"$work/wine.err"; } || status=$?
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true  # gone before its prefix is removed
        exit "$status"
    ); then
        wine_status=ran
    else
        wine_status=failed
        cat "$work/wine.err" 2>/dev/null || true
    fi
    rm -rf "$prefix_dir"
fi

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
  }' "$work/connstring.csv"

# The store: real time (a save waits for the disk) and CPU time, fastest repetition. Names such
# as "TableSave/10000/real_time_min" and "OdbcIniWrite/500/iterations:1/real_time_min".
awk -F, '
  function ns(t, unit) { return unit == "us" ? t * 1e3 : unit == "ms" ? t * 1e6 : unit == "s" ? t * 1e9 : t }
  function verdict(ratio, limit) { return ratio <= limit ? "<= " limit "x met" : "<= " limit "x MISSED" }
  $1 ~ /_(median|min)"$/ {
    name = $1; gsub(/"/, "", name)
    stat = name; sub(/.*_/, "", stat); sub(/_[a-z]+$/, "", name)
    gsub(/\/(iterations:[0-9]+|real_time)/, "", name)
    real[name, stat] = ns($3, $5)
    cpu[name, stat] = ns($4, $5)
  }
  function row(label, a, b, scale, limit,   ratio) {
    if (!real[a, "min"] || !real[b, "min"]) { printf "%-34s not measured\n", label; return }
    ratio = real[a, "min"] / real[b, "min"]
    printf "%-34s %10.2f %10.2f %7.1fx %7.1fx  %s\n", label, real[a, "min"] / scale, real[b, "min"] / scale,
      ratio, cpu[a, "min"] / cpu[b, "min"], limit ? verdict(ratio, limit) : ""
  }
  END {
    printf "\n%-34s %10s %10s %8s %8s  %s\n", "Store, ms (real, fastest)", "table", "raw SQLite", "ratio", "cpu", "target"
    row("save 10,000 connections", "TableSave/10000", "RawSqliteSave/10000", 1e6, 1.5)
    row("load 10,000 connections", "TableLoad/10000", "RawSqliteLoad/10000", 1e6, 1.5)
    row("  its steps: subkeys enumerated", "LoadSteps/10000/0", "RawSqliteLoad/10000", 1e6, 0)
    row("  + connection strings read", "LoadSteps/10000/1", "RawSqliteLoad/10000", 1e6, 0)
    row("  + icons looked for", "LoadSteps/10000/2", "RawSqliteLoad/10000", 1e6, 0)
    row("  + records parsed", "LoadSteps/10000/3", "RawSqliteLoad/10000", 1e6, 0)
    printf "\n%-34s %10s %10s %8s %8s  %s\n", "Lookup by name, ns (fastest)", "100,000", "10", "ratio", "cpu", "target"
    row("every name in turn (shuffled)", "Lookup/100000", "Lookup/10", 1, 1.5)
    row("the same 8 names (cached)", "LookupHot/100000", "LookupHot/10", 1, 1.5)
    row("std::unordered_map, every name", "UnorderedMapFind/100000", "UnorderedMapFind/10", 1, 0)
    printf "\n%-34s %10s %10s\n", "unixODBC odbc.ini, 500 entries", "ms", "x table"
    if (real["OdbcIniWrite/500", "min"]) {
      printf "%-34s %10.0f %9.0fx  (per entry, against the table saving 10,000)\n", "write", real["OdbcIniWrite/500", "min"] / 1e6,
        (real["OdbcIniWrite/500", "min"] / 500) / (real["TableSave/10000", "min"] / 10000)
      printf "%-34s %10.0f %9.0fx  (per entry, against the table loading 10,000)\n", "read", real["OdbcIniRead/500", "min"] / 1e6,
        (real["OdbcIniRead/500", "min"] / 500) / (real["TableLoad/10000", "min"] / 10000)
    } else {
      print "not measured (no unixodbc-dev)"
    }
  }' "$work/store.csv"

# Fsyncs (fsync and fdatasync) between the probe markers. A commit syncs the write-ahead log
# once; the first save of a process also creates the log (3 in all), and the automatic
# checkpoint, every 1000 pages of log, adds 2 to the save that reaches it and 1 to the next.
# The target: the same counts whatever the number of connections, at most 3 a save.
printf "\n%-34s %10s %10s %10s  %s\n" "Fsyncs per save" "10" "1,000" "10,000" "target"
for kind in table raw; do
    line=()
    for n in 10 1000 10000; do
        line+=("$(awk -v kind="$kind" '
          /write\(2, "probe begin / { match($0, /probe begin [a-z0-9-]+/); phase = substr($0, RSTART + 12, RLENGTH - 12) }
          /write\(2, "probe end / { phase = "" }
          /(fsync|fdatasync)\(/ && phase != "" { count[phase]++ }
          END {
            first = count[kind "-save-1"] + 0
            for (i = 2; i <= 6; i++) later = later (i > 2 ? "," : "") (count[kind "-save-" i] + 0)
            print first "|" later
          }' "$work/strace.$n")")
    done
    firsts="${line[0]%%|*} ${line[1]%%|*} ${line[2]%%|*}"
    verdict="constant: MISSED"
    if [ "${line[0]%%|*}" = "${line[1]%%|*}" ] && [ "${line[1]%%|*}" = "${line[2]%%|*}" ]; then
        verdict="constant: met"
    fi
    # shellcheck disable=SC2086  # firsts is a list of numbers
    printf "%-34s %10s %10s %10s  %s\n" "$kind: first save of the process" $firsts "$verdict"
    verdict="at most 3: met"
    for entry in "${line[@]}"; do
        for count in $(tr ',' ' ' <<<"${entry#*|}"); do
            [ "$count" -le 3 ] || verdict="at most 3: MISSED"
        done
    done
    printf "%-34s %10s %10s %10s  %s\n" "$kind: next 5 saves" "${line[0]#*|}" "${line[1]#*|}" \
        "${line[2]#*|}" "$verdict"
done

# Start-up: the first export call of a new process. On Linux start-up (the choice of the
# resource library) runs inside dlopen, so its cost is in the dlopen column. Each iteration runs
# a probe process that loads the shared library and times its first and second
# SplitConnectionString calls (bench/startup_bench.cpp). Counters: fastest of all processes.
run_bench startup_bench "$work/startup.csv"
awk -F, '
  $1 == "name" { for (i = 1; i <= NF; i++) { h = $i; gsub(/"/, "", h); col[h] = i }; next }
  { name = $1; gsub(/"/, "", name) }
  name ~ /_min$/ { sub(/\/.*/, "", name); first[name] = $(col["first_ns"]); second[name] = $(col["second_ns"]); load[name] = $(col["load_ns"]) }
  name ~ /_median$/ { sub(/\/.*/, "", name); median[name] = $3 }
  function row(label, name, limit) {
    if (!first[name]) { printf "%-34s not measured\n", label; return }
    printf "%-34s %10.1f %10.1f %10.2f %10.0f  %s\n", label, first[name] / 1e3, median[name], second[name] / 1e3,
      load[name] / 1e3, limit ? (first[name] / 1e3 < limit ? "< " limit " us met" : "< " limit " us MISSED") : ""
  }
  END {
    printf "\n%-34s %10s %10s %10s %10s  %s\n", "Start-up, us (first export call)", "fastest", "median", "2nd call", "dlopen", "target"
    row("English: no resource library", "FirstCallEnglish", 10)
    row("German (Austria): DEU accepted", "FirstCallGerman", 0)
  }' "$work/startup.csv"

# The command-line tool, whole processes on the SQLite hive, against the sqlite3 shell on one
# plain table of the same rows (WAL, synchronous FULL as the hive): show against a SELECT of
# one row, set, delete and default against an INSERT OR REPLACE / DELETE of one row, list
# against a SELECT of every row, export against .dump. Each figure is the fastest of the runs.
cli_bench() {
    local cli="$bench_dir/tavixconnect" runs="${BENCH_CLI_RUNS:-7}" n
    local -a ops=(show set delete default list export)
    # Fastest wall time and fastest CPU time (user + system) in ms of "$@ RUN" over the runs
    # (RUN: the run's number), as "WALL CPU". On a machine shared with other work the CPU time
    # is the steadier of the two.
    fastest_ms() {
        local wall="" cpu="" i times start end TIMEFORMAT='%3U %3S'
        for ((i = 0; i < runs; i++)); do
            start=$EPOCHREALTIME
            times=$( { time "$@" "$i" >/dev/null 2>&1; } 2>&1 ) || { echo "failed: $* $i" >&2; return 1; }
            end=$EPOCHREALTIME
            read -r wall cpu <<<"$(awk -v t="$times" -v a="$start" -v b="$end" -v wall="$wall" -v cpu="$cpu" 'BEGIN {
                split(t, f, " "); w = (b - a) * 1000; c = (f[1] + f[2]) * 1000
                printf "%.3f %.3f", (wall == "" || w < wall) ? w : wall, (cpu == "" || c < cpu) ? c : cpu }')"
        done
        echo "$wall $cpu"
    }
    tool() {  # OP RUN
        local middle
        middle=$(printf 'Conn%06d' $((n / 2)))
        case $1 in
            show) "$cli" show "$middle" ;;
            set) "$cli" set "$middle" "cn_iptcp:host$2[1972]:NS" ;;
            delete) "$cli" delete "$(printf 'Del%03d' "$2")" ;;
            default) "$cli" default "$(printf 'Conn%06d' $((n / 2 + $2 % 2)))" ;;
            list) "$cli" list ;;
            export) "$cli" export -o "$work/cli-export.reg" ;;
        esac
    }
    shell() {  # OP RUN
        local middle db="$work/plain-$n.db" sync="PRAGMA synchronous=FULL"
        middle=$(printf 'Conn%06d' $((n / 2)))
        case $1 in
            show) sqlite3 "$db" "SELECT cs FROM c WHERE name = '$middle'" ;;
            set) sqlite3 -cmd "$sync" "$db" "INSERT OR REPLACE INTO c VALUES('$middle', 'cn_iptcp:host$2[1972]:NS')" ;;
            delete) sqlite3 -cmd "$sync" "$db" "DELETE FROM c WHERE name = '$(printf 'Del%03d' "$2")'" ;;
            default) sqlite3 -cmd "$sync" "$db" \
                "INSERT OR REPLACE INTO c VALUES('(default)', '$(printf 'Conn%06d' $((n / 2 + $2 % 2)))')" ;;
            list) sqlite3 "$db" "SELECT name, cs FROM c" ;;
            export) sqlite3 "$db" .dump >"$work/plain-export.sql" ;;
        esac
    }
    printf "\n%-34s %10s %10s %8s %10s %10s %8s\n" "tavixconnect, ms (process, fastest)" "tool" "sqlite3" "ratio" \
        "tool CPU" "sqlite3" "ratio"
    for n in 1000 10000 100000; do
        export XDG_CONFIG_HOME="$work/cli-$n"
        mkdir -p "$XDG_CONFIG_HOME"
        # The same rows in both: N connections, one Del entry per run (deleted one a run), a
        # default.
        awk -v n="$n" -v runs="$runs" 'BEGIN {
            key = "HKEY_CURRENT_USER\\Software\\Vantorin\\Connections"
            printf "REGEDIT4\r\n\r\n[%s]\r\n@=\"Conn000000\"\r\n\r\n", key
            for (i = 0; i < n; i++) printf "[%s\\Conn%06d]\r\n@=\"cn_iptcp:host%d[1972]:NS\"\r\n\r\n", key, i, i
            for (i = 0; i < runs; i++) printf "[%s\\Del%03d]\r\n@=\"cn_iptcp:del%d[1972]:NS\"\r\n\r\n", key, i, i
        }' >"$work/cli-$n.reg"
        "$cli" import "$work/cli-$n.reg"
        sqlite3 "$work/plain-$n.db" >/dev/null <<SQL
PRAGMA journal_mode=WAL;
CREATE TABLE c(name TEXT PRIMARY KEY COLLATE NOCASE, cs TEXT NOT NULL) WITHOUT ROWID;
BEGIN;
WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i + 1 < $n)
INSERT INTO c SELECT printf('Conn%06d', i), printf('cn_iptcp:host%d[1972]:NS', i) FROM k;
WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i + 1 < $runs)
INSERT INTO c SELECT printf('Del%03d', i), printf('cn_iptcp:del%d[1972]:NS', i) FROM k;
INSERT INTO c VALUES('(default)', 'Conn000000');
COMMIT;
SQL
        local op ours theirs
        for op in "${ops[@]}"; do
            ours=$(fastest_ms tool "$op") && theirs=$(fastest_ms shell "$op") || return 1
            awk -v label="$op, $n connections" -v a="$ours" -v b="$theirs" 'BEGIN {
                split(a, x, " "); split(b, y, " ")
                printf "%-34s %10.2f %10.2f %7.1fx %10.2f %10.2f %7.1fx\n", label, x[1], y[1], x[1] / y[1],
                       x[2], y[2], (y[2] > 0 ? x[2] / y[2] : 0) }'
        done
    done
    unset XDG_CONFIG_HOME
}
if [ "${BENCH_CLI:-1}" != 0 ]; then
    cli_bench
fi

printf "\n%-34s\n" "Windows build under Wine's registry, ms (real, fastest)"
if [ "$wine_status" = ran ]; then
    awk '{
      name = $1; sub(/\/.*/, "", name)
      best = $2; sub(/best_ms=/, "", best)
      label = name == "WineRegistrySaveEmpty" ? "save 10,000 into an empty key" : name == "WineRegistrySave" ? "save 10,000 over the same" : "load 10,000"
      printf "%-34s %10.0f  (%s)\n", label, best, $3
    }' "$work/wine.txt"
else
    echo "$wine_status"
fi
[ "$wine_status" != failed ]
