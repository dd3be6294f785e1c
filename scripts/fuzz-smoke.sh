#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each for a bounded time on a copy of its
# seed corpus. Exits non-zero when a target finds a crash, a leak or a violated property;
# the input that did it is kept in artifacts/.
#
#   FUZZ_SECONDS   seconds per target (default 45)
set -euo pipefail

cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-45}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p artifacts

# target, seed corpus, longest input: connection strings are short, the wide target reads two
# bytes per character and three strings; the icon seeds are .ico and PE files of a few KB, and
# so are the resource seeds (.res and resource-only DLL files); an ELF file's headers and notes
# lie in its first few KB.
targets=(
  "fuzz_record fuzz/corpus/record 256"
  "fuzz_wide fuzz/corpus/wide 512"
  "fuzz_icon_reader fuzz/corpus/icons 8192"
  "fuzz_resources fuzz/corpus/resources 12288"
  "fuzz_elf_note fuzz/corpus/elf_note 4096"
  "fuzz_reg_file fuzz/corpus/reg_file 4096"
  "fuzz_json fuzz/corpus/json 1024"
)

status=0
summary=()
for entry in "${targets[@]}"; do
  read -r target seeds max_len <<<"$entry"
  corpus="$work/$target"
  mkdir -p "$corpus"
  cp "$seeds"/* "$corpus"/
  log="$work/$target.log"
  echo "== $target: ${seconds}s"
  set +e
  "build/fuzz/fuzz/$target" "$corpus" -max_total_time="$seconds" -max_len="$max_len" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="artifacts/$target-" >"$log" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\) .*/\1/p' "$log" | tail -1)
  files=$(find "$corpus" -type f | wc -l)
  if [[ $rc -eq 0 ]]; then
    result="ok"
  else
    result="FAILED (exit $rc)"
    status=1
    grep -E 'property violated|ERROR: |SUMMARY: |Test unit written to' "$log" | head -5 >&2 || true
  fi
  summary+=("$target: $result, ${runs:-?} runs, ${speed:-?} exec/s, cov ${cov:-?}, corpus $files files")
done

printf '%s\n' "${summary[@]}"
exit $status
