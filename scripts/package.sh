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
        linux)
            "$root/scripts/deps.sh" build package
            build=$root/build/package-linux
            cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
                -DPULSEMETER_BENCH=OFF >/dev/null
            ;;
        windows)
            "$root/scripts/deps.sh" windows package
            build=$root/build/windows
            (cd "$root" && cmake --preset windows >/dev/null)
            ;;
        *)
            echo "package.sh: unknown platform '$platform' (linux, windows)" >&2
            exit 2
            ;;
    esac
    cmake --build "$build" -j2
    [[ -f "$build/CPackConfig.cmake" ]] ||
        { echo "package.sh: the $platform build has no package rules (program targets missing?)" >&2; exit 1; }
    (cd "$build" && cpack -B "$out" >/dev/null)
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
