#!/usr/bin/env bash
# Installs the Debian 12 packages Rendle builds, tests and runs with.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    nlohmann-json3-dev rapidjson-dev libcli11-dev
    qt6-base-dev libxlsxwriter-dev libeigen3-dev libboost-dev
    clang libclang-rt-14-dev
    fonts-liberation xvfb xauth openbox xdotool x11-utils
    libgraphviz-dev libpugixml-dev libgeographiclib-dev librsvg2-bin
    poppler-utils python3 python3-openpyxl python3-jsonschema dpkg-dev
    locales clang-format clang-tidy help2man desktop-file-utils
)

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
else
    sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A comma-decimal locale, so that the test proving numbers are read and written with a full
# stop whatever the regional settings really runs.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    "${sudo[@]}" sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo[@]}" locale-gen >/dev/null
fi
