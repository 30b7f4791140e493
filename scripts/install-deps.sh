#!/usr/bin/env bash
# Installs the Debian packages a build or a test run needs, when missing.
#   scripts/install-deps.sh build   compilers and CMake
#   scripts/install-deps.sh test    the above, and every tool the tests use
set -euo pipefail

want=(cmake ninja-build g++ python3)
if [ "${1:-build}" = test ]; then
  want+=(libgtest-dev clang libclang-rt-14-dev lhasa jlha-utils 7zip hyperfine mingw-w64 binutils-mingw-w64
         lld wine64 xvfb xauth xdotool imagemagick x11-utils dosbox)
else
  want+=(mingw-w64)
fi

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
