#!/usr/bin/env bash
# Builds the release packages into build/packages/:
#   pulsemeter_<version>_<arch>.deb          the Linux program and pulsemeter-sim
#   pulsemeter-<version>-windows-x86_64.zip  pulsemeter.exe, and demo/ with the stand-in
# Usage: scripts/package.sh [linux] [windows]   (both when none is named)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/build/packages
platforms=("$@")
((${#platforms[@]})) || platforms=(linux windows)
mkdir -p "$out"

for platform in "${platforms[@]}"; do
    case $platform in
        linux) "$root/scripts/deps.sh" build package ;;
        windows) "$root/scripts/deps.sh" windows package ;;
        *)
            echo "package.sh: unknown platform '$platform' (linux, windows)" >&2
            exit 2
            ;;
    esac
    # The package-* presets: a release build without tests or benchmarks.
    preset=package-$platform
    (cd "$root" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2)
    [[ -f "$root/build/$preset/CPackConfig.cmake" ]] ||
        { echo "package.sh: the $platform build has no package rules (program targets missing?)" >&2; exit 1; }
    (cd "$root" && cpack --preset "$preset" >/dev/null)
done
rm -rf "$out/_CPack_Packages"

cd "$out"
for package in *.deb *.zip; do
    [[ -e "$package" ]] || continue
    echo "== $out/$package"
    case $package in
        *.deb) dpkg-deb --info "$package"; dpkg-deb --contents "$package" ;;
        *.zip) cmake -E tar tf "$package" ;;
    esac
done
