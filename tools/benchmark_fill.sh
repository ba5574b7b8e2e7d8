#!/usr/bin/env bash
# Times a full actual-size format with the data-area fill on a 1 GiB image
# and dd writing the same number of bytes to the same file system with 20 KiB
# and 1 MiB blocks, so the cost of the fill's 40-sector writes and the staging
# copy behind them shows. Prints figures; asserts nothing.
#
#   bash tools/benchmark_fill.sh [DIRECTORY]   (default: build/benchmark)
#
# Each figure is the best of RUNS (default 3) runs, once through the page
# cache and once flushed to the disk (the tool's run followed by sync of the
# image, dd with conv=fsync).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/benchmark}
runs=${RUNS:-3}
tool=build/host/bin/vellmark-image

cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" --target vellmark-image >/dev/null
mkdir -p "$dir"
img=$dir/fill.img
ddimg=$dir/dd.img
sectors=2097152  # 1 GiB

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN{printf "%.6f", b - a}'; }
least() { awk -v a="$1" -v b="$2" 'BEGIN{print (a == "" || b + 0 < a + 0) ? b : a}'; }

# The data area of the volume, from its boot sector: reserved, FATs and root
# directory in front of it, everything to the end of the volume in it.
data_bytes() {
  python3 - "$1" <<'EOF'
import struct, sys
b = open(sys.argv[1], 'rb').read(512)
spc = b[13]; rsvd, = struct.unpack_from('<H', b, 14); fats = b[16]
root, tot16, = struct.unpack_from('<HH', b, 17); fatsz, = struct.unpack_from('<H', b, 22)
tot32, = struct.unpack_from('<I', b, 32)
total = tot16 or tot32
start = rsvd + fats * fatsz + (root * 32 + 511) // 512
print((total - start) * 512)
EOF
}

best=""
best_flushed=""
for _ in $(seq "$runs"); do
  rm -f "$img"
  sync
  t0=$(now)
  "$tool" --sectors "$sectors" --layout actual --cluster 32768 --fill=AA "$img" >/dev/null
  best=$(least "$best" "$(since "$t0")")
  sync "$img"
  best_flushed=$(least "$best_flushed" "$(since "$t0")")
done
bytes=$(data_bytes "$img")
if ! od -An -tx1 -j $(( sectors * 512 - 16 )) -N 16 "$img" | grep -q 'aa aa'; then
  echo "the fill did not reach the end of the image" >&2
  exit 1
fi

dd_time() {  # block size, extra dd flags
  local t=""
  for _ in $(seq "$runs"); do
    rm -f "$ddimg"
    truncate -s $(( sectors * 512 )) "$ddimg"
    sync
    local t0
    t0=$(now)
    dd if=/dev/zero of="$ddimg" bs="$1" count="$bytes" iflag=count_bytes conv=notrunc$2 status=none
    t=$(least "$t" "$(since "$t0")")
  done
  echo "$t"
}

row() {  # name, seconds cached, seconds flushed
  awk -v n="$1" -v c="$2" -v f="$3" -v by="$bytes" \
    'BEGIN{printf "%-44s %8.1f MB/s %8.1f MB/s\n", n, by / c / 1e6, by / f / 1e6}'
}

echo "data area: $bytes bytes of a $(( sectors * 512 )) byte image in $dir ($(df -T "$dir" | awk 'NR==2{print $2}'))"
printf "%-44s %13s %13s\n" "" "page cache" "flushed"
row "vellmark-image --layout actual --fill=AA" "$best" "$best_flushed"
row "dd bs=20K (the fill's 40-sector writes)" "$(dd_time 20K "")" "$(dd_time 20K ,fsync)"
row "dd bs=1M" "$(dd_time 1M "")" "$(dd_time 1M ,fsync)"
echo "(the tool's figure is its whole run: planning, FATs, root directory, fill, the dialog's 200 ms wait)"
rm -f "$img" "$ddimg"
