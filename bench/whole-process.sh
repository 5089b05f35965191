#!/usr/bin/env bash
# Whole-process timings of rendle-reduce against plain tools on the same files, and its peak
# memory as the field book grows. Usage: bench/whole-process.sh [BUILD-DIR]
set -euo pipefail
build=${1:-build/dev}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_book="$build/tests/support/rendle_make_field_book"
reduce="$build/cli/rendle-reduce"

# Median wall time in milliseconds of five runs of a command.
median_ms() {
    local times=()
    for _ in 1 2 3 4 5; do
        local start end
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}

echo "== 50 MB field books, mostly records that take no row, plus a full run =="
for format in sdr20 sdr33; do
    "$make_book" "$format" 50 "$work/big.$format"
    size=$(stat -c %s "$work/big.$format")
    wc_ms=$(median_ms wc -l "$work/big.$format")
    rr_ms=$(median_ms "$reduce" --end-rl 100.01 "$work/big.$format")
    echo "$format: $((size / 1048576)) MB  wc -l ${wc_ms} ms  rendle-reduce ${rr_ms} ms" \
         " ($(( size / 1048576 * 1000 / (rr_ms > 0 ? rr_ms : 1) )) MB/s, $(awk "BEGIN{printf \"%.1f\", $rr_ms/($wc_ms>0?$wc_ms:1)}")x wc -l)"
done

echo "== peak memory of rendle-reduce as the SDR20 field book grows =="
for mb in 5 50 200; do
    "$make_book" sdr20 "$mb" "$work/grow.sdr20"
    rss=$( { /usr/bin/time -f %M "$reduce" --end-rl 100.01 "$work/grow.sdr20" >/dev/null; } 2>&1 | tail -1)
    echo "${mb} MB field book: ${rss} KB peak resident"
done

echo "== a full run of about 1000 rows, whole process =="
"$make_book" sdr20 0 "$work/run.sdr20"
echo "rendle-reduce $(median_ms "$reduce" --end-rl 100.01 "$work/run.sdr20") ms," \
     "cat $(median_ms cat "$work/run.sdr20") ms ($(stat -c %s "$work/run.sdr20") bytes)"
