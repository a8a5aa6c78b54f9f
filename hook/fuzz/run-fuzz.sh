#!/bin/bash
# Builds the import walker's libFuzzer target natively (clang with ASan and
# UBSan) into build/fuzz/ and runs it for a bounded time.
# Usage: run-fuzz.sh [seconds, default 300]
set -euo pipefail

SECONDS_EACH=${1:-300}
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
OUT=$ROOT/build/fuzz
CXX=${CXX_FUZZ:-clang++}
INCLUDES=(-I"$ROOT/common" -I"$HERE/.." -I"$HERE/../tests")
FLAGS=(-std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined)

mkdir -p "$OUT/seeds/imports" "$OUT/corpus/imports"
"$CXX" -std=c++17 -O1 "${INCLUDES[@]}" "$HERE/SeedWriter.cpp" -o "$OUT/import-seed-writer"
"$OUT/import-seed-writer" "$OUT/seeds/imports"

name=ImportDirectoryFuzzer
echo "== $name: building"
"$CXX" "${FLAGS[@]}" "${INCLUDES[@]}" "$HERE/$name.cpp" "$HERE/../ImportDirectory.cpp" "$ROOT/common/ByteReader.cpp" \
    -o "$OUT/$name"
echo "== $name: running ${SECONDS_EACH} s"
status=0
if (cd "$OUT" && "./$name" -max_total_time="$SECONDS_EACH" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 corpus/imports seeds/imports >"$name.log" 2>&1); then
    result=clean
else
    result="FAILED (see $OUT/$name.log and the crash-* file beside it)"
    status=1
fi
grep -E "^stat::(number_of_executed_units|average_exec_per_sec)|^SUMMARY" "$OUT/$name.log" || true
echo "== $name: $result"
exit $status
