#!/usr/bin/env bash
# Whole-process timings of rendle-reduce set against plain tools on the same files, run in turn
# (A B A B ...) so that both see the same machine, and its peak memory as the number of field
# books and the size of a book grow. Usage: bench/whole-process.sh [BUILD-DIR] [RUNS]
set -euo pipefail
build=${1:-build/dev}
runs=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_book="$build/tests/support/rendle_make_field_book"
reduce="$build/cli/rendle-reduce"

# Wall time of one run in microseconds, its output thrown away.
once_us() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# "NAME: A ms, B ms, A/B ratio": medians of paired runs of two commands given as strings of
# words (no word holds a blank: the paths are our own).
paired() {
    local name=$1 a b as=() bs=()
    read -ra a <<<"$2"
    read -ra b <<<"$3"
    once_us "${a[@]}" >/dev/null
    once_us "${b[@]}" >/dev/null
    for _ in $(seq "$runs"); do
        as+=("$(once_us "${a[@]}")")
        bs+=("$(once_us "${b[@]}")")
    done
    local am bm
    am=$(printf '%s\n' "${as[@]}" | median)
    bm=$(printf '%s\n' "${bs[@]}" | median)
    awk -v n="$name" -v a="$am" -v b="$bm" \
        'BEGIN { printf "%-44s %8.2f ms  against %8.2f ms  = %5.2f x\n", n, a / 1000, b / 1000, a / b }'
}

peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

"$make_book" sdr20 0 "$work/run.SDR"
echo "== a full run of about 1000 rows ($(stat -c %s "$work/run.SDR") bytes), median of $runs =="
paired "--help against cat" "$reduce --help" "cat $work/run.SDR"
paired "text report against cat" "$reduce --end-rl 100.01 $work/run.SDR" "cat $work/run.SDR"
paired "--json against the text report" "$reduce --json --end-rl 100.01 $work/run.SDR" \
    "$reduce --end-rl 100.01 $work/run.SDR"

echo "== 1000 copies of that run in one call, text reports to /dev/null =="
mkdir "$work/archive"
for i in $(seq 1000); do cp "$work/run.SDR" "$work/archive/book$i.SDR"; done
for jobs in 1 2; do
    times=()
    for _ in 1 2 3 4 5; do
        times+=("$(once_us "$reduce" -j "$jobs" --end-rl 100.01 "$work"/archive/*.SDR)")
    done
    us=$(printf '%s\n' "${times[@]}" | median)
    awk -v j="$jobs" -v us="$us" \
        'BEGIN { printf "-j %d: %7.0f ms, %5.0f field books a second\n", j, us / 1000, 1000 / (us / 1e6) }'
done
if [ -x "$build/bench/rendle_batch_bench" ]; then
    echo "the same work in process (median of 5):"
    "$build/bench/rendle_batch_bench" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true 2>/dev/null | grep median || true
fi

echo "== 50 MB field books, mostly records that take no row, plus a full run =="
for format in sdr20 sdr33; do
    "$make_book" "$format" 50 "$work/big.$format"
    paired "$format, $(( $(stat -c %s "$work/big.$format") / 1048576 )) MB, against wc -l" \
        "$reduce --end-rl 100.01 $work/big.$format" "wc -l $work/big.$format"
done

echo "== a GSI book of 100,000 levelling lines, each one set-up, every report out as it is done =="
awk 'BEGIN { for (i = 1; i <= 100000; i++) {
    printf "410001+?......1 \r\n110002+00000A1 83..18+10000000 \r\n"
    printf "110003+00000A1 32...8+00002000 331.08+00150000 \r\n"
    printf "110004+00000T1 32...8+00002000 332.08+00120000 83..18+10030000 \r\n" } }' \
    >"$work/lines.gsi"
paired "$(( $(stat -c %s "$work/lines.gsi") / 1048576 )) MB, --json-lines, against wc -l" \
    "$reduce --json-lines --end-rl 100.3 $work/lines.gsi" "wc -l $work/lines.gsi"
echo "its peak: $(peak_kb "$reduce" --json-lines --end-rl 100.3 "$work/lines.gsi") KB"

echo "== peak memory =="
for mb in 5 50 200; do
    "$make_book" sdr33 "$mb" "$work/grow.sdr33"
    echo "one SDR33 field book of ${mb} MB: $(peak_kb "$reduce" --end-rl 100.01 "$work/grow.sdr33") KB"
done
for count in 1 100 1000; do
    for jobs in 1 2; do
        echo "$count field books, -j $jobs: $(peak_kb "$reduce" -j "$jobs" --end-rl 100.01 \
            $(ls "$work"/archive/*.SDR | head -"$count")) KB"
    done
done
