#!/usr/bin/env bash
# Writes a bare header area (no Windows program) that the native runner
# accepts in front of an archive: "MZ", 32 header paragraphs, the settings
# area free. Prints the file's path.
set -euo pipefail
python3 - "$1" <<'PY'
import struct, sys
stub = bytearray(1120)
stub[0:2] = b"MZ"
struct.pack_into("<H", stub, 8, 32)
open(sys.argv[1], "wb").write(stub)
PY
echo "$1"
