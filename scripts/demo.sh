#!/usr/bin/env bash
# The demo: builds kobrix-pack, the Windows stub and the runner, turns
# samples/demo into a self-extracting file with a message, a script and a
# few files, and runs it with the native runner. Answer its questions at the
# prompts (Enter keeps the proposed directory).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOBRIX_TESTS=OFF >/dev/null
cmake --build build -j2

out=demo-out
rm -rf "$out"
mkdir -p "$out/root"
stub_args=()
[ -f build/kobrix-stub.exe ] || stub_args=(--stub "$(scripts/bare-stub.sh "$out/bare-stub.bin")")
build/kobrix-pack -o "$out/demo-setup.exe" "${stub_args[@]}" \
  --message samples/demo/message.txt --script samples/demo/script.txt \
  -C samples/demo/files README.TXT docs

echo
echo "== Running $out/demo-setup.exe; drive C: is $out/root =="
set +e
XDG_DATA_HOME="$PWD/$out/xdg" build/kobrix --root "$out/root" "$out/demo-setup.exe"
status=$?
set -e
echo
echo "== Exit code $status. What was written: =="
find "$out/root" "$out/xdg" -mindepth 1 2>/dev/null | sort | sed "s|^$out/||"
