#!/usr/bin/env bash
# Sets up the machine, builds the host image tool and formats demo.img the
# way Vellmark formats a USB disk, then shows what fsck.fat and mtools see.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"
rm -f demo.img
build/host/bin/vellmark-image --sectors 2880 demo.img
fsck.fat -n demo.img
mdir -i demo.img ::
