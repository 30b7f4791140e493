#!/usr/bin/env bash
# Installs the Debian packages a build or a test run needs, when missing.
#   scripts/install-deps.sh build   compilers and CMake
#   scripts/install-deps.sh test    the above, and every tool the tests use
# For the tests, 32-bit Wine (wine32:i386, which runs kobrix-stub.exe) is
# added where the kernel runs 32-bit programs, and left out, saying so, where
# it does not; its Wine tests then skip with that reason. osslsigncode comes
# from Debian 12 itself (2.5), which signs and verifies our installers;
# locales brings the locale sources a Wine test compiles ja_JP.UTF-8 from.
set -euo pipefail

want=(cmake ninja-build g++ python3)
if [ "${1:-build}" = test ]; then
  want+=(libgtest-dev clang libclang-rt-14-dev lhasa jlha-utils 7zip hyperfine mingw-w64 binutils-mingw-w64
         lld wine64 xvfb xauth xdotool imagemagick x11-utils dosbox osslsigncode openssl
         locales)
else
  want+=(mingw-w64)
fi

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

# Whether this kernel runs i386 programs: a 96-byte i386 ELF must exit with
# 42. A kernel without 32-bit support answers "Exec format error".
runs_32bit() {
  local probe status elf=''
  probe=$(mktemp)
  # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054
  elf+='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
  elf+='\x00\x00\x00\x00'
  # program header: all 96 bytes loaded at 0x08048000
  elf+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  elf+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  # mov eax, 1 (exit); mov ebx, 42; int 0x80
  elf+='\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  printf "$elf" >"$probe"
  chmod +x "$probe"
  status=0
  probe_error=$("$probe" 2>&1) || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

if [ "${1:-build}" = test ] && [ "$(uname -m)" = x86_64 ]; then
  if runs_32bit; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      echo "Adding the i386 architecture for 32-bit Wine"
      $sudo_cmd dpkg --add-architecture i386
    fi
    want+=(wine32:i386)
  else
    echo "32-bit Wine left out: this machine does not run 32-bit programs (${probe_error:-no exit code 42})."
    echo "The Wine tests of kobrix-stub.exe will be skipped."
  fi
fi

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
