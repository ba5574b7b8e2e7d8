#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build/fuzz and runs each for a fixed time
# (FUZZ_SECONDS, 30 by default). Any crash, leak or finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
dir=build/fuzz
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S . -B "$dir" -G Ninja -DSF_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$sanitize -fsanitize=fuzzer-no-link" \
  -DCMAKE_C_FLAGS="$sanitize -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
targets=(fuzz_detect_file_system fuzz_capacity_answer)
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"

# Seeds: boot sectors of each FAT kind and one READ CAPACITY answer.
seeds="$dir/seeds"
rm -rf "$seeds" && mkdir -p "$seeds/fuzz_detect_file_system" "$seeds/fuzz_capacity_answer"
python3 - "$seeds" <<'PY'
import struct, sys
root = sys.argv[1]
def boot(bps, spc, rsvd, fats, rootents, tot16, fat16, tot32=0, fat32=0):
    s = bytearray(512)
    struct.pack_into("<HBHBHH", s, 11, bps, spc, rsvd, fats, rootents, tot16)
    struct.pack_into("<H", s, 22, fat16)
    struct.pack_into("<II", s, 32, tot32, fat32)
    s[510:512] = b"\x55\xaa"
    return bytes(s)
for name, sector in [("fat12", boot(512, 1, 1, 2, 224, 2880, 9)),
                     ("fat16", boot(512, 4, 1, 2, 512, 0, 200, 200000)),
                     ("fat32", boot(512, 8, 32, 2, 0, 0, 0, 4000000, 3900))]:
    open(f"{root}/fuzz_detect_file_system/{name}", "wb").write(sector)
open(f"{root}/fuzz_capacity_answer/floppy", "wb").write(bytes.fromhex("00000b3f00000200"))
PY

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
declare -A max_len=([fuzz_detect_file_system]=1024 [fuzz_capacity_answer]=16)
for t in "${targets[@]}"; do
  corpus="$dir/corpus/$t"
  mkdir -p "$corpus"
  echo "fuzzing $t for ${seconds}s"
  "$dir/bin/$t" -max_total_time="$seconds" -max_len="${max_len[$t]}" \
    -error_exitcode=1 -timeout_exitcode=1 -artifact_prefix="$dir/$t-" -print_final_stats=1 \
    "$corpus" "$seeds/$t"
done
