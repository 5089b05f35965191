#!/usr/bin/env bash
# Runs every fuzz target of a clang build for a short, bounded time, starting from the saved
# corpus (copied, so the repository's corpus is left as it is).
# Usage: scripts/fuzz-smoke.sh BUILD-DIR [SECONDS]
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

for target in sdr20 sdr33 m5 gsi numeric reports help_request outputs network checks; do
    work=$(mktemp -d)
    cp "$root/fuzz/corpus/$target/"* "$work/"
    echo "fuzzing $target for ${seconds}s"
    status=0
    "$build/fuzz/rendle_fuzz_$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
        -print_final_stats=1 "$work" >"$work.log" 2>&1 || status=$?
    grep -E 'stat::number_of_executed_units|Done' "$work.log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$work.log"
        echo "fuzz target $target failed"
    fi
    rm -rf "$work" "$work.log"
    [ "$status" -eq 0 ] || exit 1
done
