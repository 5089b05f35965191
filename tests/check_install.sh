#!/usr/bin/env bash
# Installs the build into a scratch folder and checks the layout a desktop expects: the programs
# and the help file together in lib/rendle, working links in bin, the desktop entry and icons.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*"; exit 1; }
for program in rendle rendle-help rendle-reduce rendle-net rendle-network; do
    [ -x "$prefix/lib/rendle/$program" ] || fail "$program is not in lib/rendle"
    [ -L "$prefix/bin/$program" ] || fail "bin/$program is not a link"
    [ "$(readlink -f "$prefix/bin/$program")" = "$(readlink -f "$prefix/lib/rendle/$program")" ] \
        || fail "bin/$program does not lead to lib/rendle/$program"
done
[ -f "$prefix/lib/rendle/rendle.HLP" ] || fail "the help file is not beside the program"
desktop="$prefix/share/applications/rendle.desktop"
grep -q '^Exec=rendle %f$' "$desktop" || fail "the desktop entry does not pass the file on"
mime="$prefix/share/mime/packages/rendle.xml"
[ -f "$mime" ] || fail "the field-book types are not installed"
# Every type the desktop entry opens is defined, and the M5 type by its first line.
for type in $(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' '); do
    grep -q "mime-type type=\"$type\"" "$mime" || fail "$type is not defined"
done
grep -q 'value="For M5"' "$mime" || fail "an M5 book is not told by its first line"
network_desktop="$prefix/share/applications/rendle-network.desktop"
[ -f "$network_desktop" ] || fail "no desktop entry for rendle-network"
grep -q '^Exec=rendle-network %F$' "$network_desktop" || fail "rendle-network's entry does not pass the files on"
grep -q '^Name=Rendle Network$' "$network_desktop" || fail "rendle-network's entry is not named Rendle Network"
# It opens what rendle opens, and GNU Gama's inputs and network jobs besides.
for type in $(sed -n 's/^MimeType=//p' "$desktop" | tr ';' ' ') application/x-rendle-gama-xml \
    application/x-rendle-network-job; do
    grep -q "^MimeType=.*$type;" "$network_desktop" || fail "rendle-network does not open $type"
done
for type in $(sed -n 's/^MimeType=//p' "$network_desktop" | tr ';' ' '); do
    grep -q "mime-type type=\"$type\"" "$mime" || fail "$type is not defined"
done
if command -v update-mime-database >/dev/null; then
    mkdir -p "$prefix/mimedb/packages"
    cp "$mime" "$prefix/mimedb/packages/"
    update-mime-database "$prefix/mimedb" >/dev/null 2>&1 || fail "update-mime-database refuses the types"
    grep -q 'application/x-rendle-zeiss-m5' "$prefix/mimedb/magic" 2>/dev/null || \
        grep -qa 'x-rendle-zeiss-m5' "$prefix/mimedb/magic" || fail "no magic for M5 books"
fi
[ -f "$prefix/share/icons/hicolor/64x64/apps/rendle.png" ] || fail "64 px icon"
[ -f "$prefix/share/icons/hicolor/128x128/apps/rendle.png" ] || fail "128 px icon"
for size in 64 128; do
    [ -f "$prefix/share/icons/hicolor/${size}x${size}/apps/rendle-network.png" ] \
        || fail "$size px icon of rendle-network"
done
if command -v help2man >/dev/null; then
    page="$prefix/share/man/man1/rendle-reduce.1.gz"
    [ -f "$page" ] || fail "the manual page of rendle-reduce is not installed gzipped"
    zcat "$page" | grep -q 'balance' || fail "the manual page lacks the options"
    for section in 'EXIT STATUS' 'EXAMPLES' 'FILES'; do
        zcat "$page" | grep -q "^\.SH \"\?$section" || fail "the manual page lacks $section"
    done
    net="$prefix/share/man/man1/rendle-net.1.gz"
    [ -f "$net" ] || fail "the manual page of rendle-net is not installed gzipped"
    zcat "$net" | grep -q 'snoop' || fail "the manual page of rendle-net lacks the options"
    window="$prefix/share/man/man1/rendle-network.1.gz"
    [ -f "$window" ] || fail "the manual page of rendle-network is not installed gzipped"
    zcat "$window" | grep -q 'F5' || fail "the manual page of rendle-network lacks its keys"
fi
if command -v desktop-file-validate >/dev/null; then
    for entry in rendle rendle-network; do
        said=$(desktop-file-validate "$prefix/share/applications/$entry.desktop" 2>&1) \
            || fail "desktop entry $entry invalid: $said"
        [ -z "$said" ] || fail "desktop-file-validate $entry: $said"
    done
fi
# The installed command-line tool runs through its link.
"$prefix/bin/rendle-reduce" "$(dirname "$0")/../examples/ring-road.m5.DAT" | grep -q 'Misclose(m)' \
    || fail "rendle-reduce through bin/ did not reduce the sample"
# --pdf loads the printer module from beside the installed program; without it no Qt is loaded.
"$prefix/bin/rendle-reduce" --pdf "$prefix/report.pdf" "$(dirname "$0")/../examples/ring-road.m5.DAT" \
    >/dev/null 2>&1 || fail "rendle-reduce through bin/ did not print the PDF"
[ -s "$prefix/report.pdf" ] || fail "no PDF"
# --save loads the workbook writer likewise.
"$prefix/bin/rendle-reduce" --save "$prefix/level.xlsx" "$(dirname "$0")/../examples/ring-road.m5.DAT" \
    >/dev/null 2>&1 || fail "rendle-reduce through bin/ did not save the workbook"
[ -s "$prefix/level.xlsx" ] || fail "no workbook"
# rendle-net through its link, its workbook through the same writer module.
"$prefix/bin/rendle-net" --fix BM1=100 --save "$prefix/net.xlsx" \
    "$(dirname "$0")/../examples/network/north.gsi" "$(dirname "$0")/../examples/network/south.gsi" \
    | grep -q 'BM7       100.80231' || fail "rendle-net through bin/ did not adjust the sample"
[ -s "$prefix/net.xlsx" ] || fail "no workbook from rendle-net"
if ldd "$prefix/lib/rendle/rendle-net" | grep -qiE 'libQt|libxlsxwriter'; then
    fail "rendle-net links Qt or libxlsxwriter"
fi
if ldd "$prefix/lib/rendle/rendle-reduce" | grep -qiE 'libQt|libxlsxwriter'; then
    fail "rendle-reduce links Qt or libxlsxwriter"
fi
# One C++ runtime in the process: the program and the modules it loads share libstdc++.
runtime() { ldd "$1" | awk '/libstdc\+\+/ { print $3 }'; }
program_runtime=$(runtime "$prefix/lib/rendle/rendle-reduce")
[ -n "$program_runtime" ] || fail "rendle-reduce does not use the shared C++ runtime"
for module in rendle-pdf.so rendle-xlsx.so; do
    [ "$(runtime "$prefix/lib/rendle/$module")" = "$program_runtime" ] \
        || fail "$module uses another C++ runtime than rendle-reduce"
done
echo "installed layout: 1 passed, 0 failed"
