#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing, so that a
# second run costs a few dpkg look-ups. Usage: scripts/deps.sh GROUP...
set -euo pipefail

declare -A groups=(
  [build]="cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libgtk-3-dev libserialport-dev fonts-ipafont-gothic"
  [gui]="xvfb xauth xdotool x11-utils imagemagick"
  [windows]="g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine wine64 fonts-wine locales"
  [fuzz]="clang libclang-rt-14-dev"
  [memcheck]="valgrind"
  [bench]="gnuplot-nox time"
  [package]="dpkg-dev file zip"
)

wanted=()
for group in "$@"; do
  [[ -n "${groups[$group]:-}" ]] || { echo "deps.sh: unknown group '$group'" >&2; exit 2; }
  for package in ${groups[$group]}; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      wanted+=("$package")
    fi
  done
done

if ((${#wanted[@]})); then
  echo "Installing: ${wanted[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${wanted[@]}" >/dev/null
fi

# The Windows checks run Wine in a Japanese locale.
if [[ " $* " == *" windows "* ]] && ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
