#!/usr/bin/env bash
# clang-tidy (the checks of .clang-tidy) over the sources of the libraries and programs, from
# the compile commands of a build. Usage: scripts/tidy.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -quiet -p "$build" -j "$(nproc)" \
        "$PWD/(grid|core|readers|commands|report|network|ui|netui|cli)/[^/]*\.cpp$" >"$log" 2>&1; then
    grep -E "(warning|error):" "$log" | sort -u
    echo "clang-tidy: findings above" >&2
    exit 1
fi
echo "clang-tidy: no findings"
