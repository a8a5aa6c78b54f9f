#!/bin/bash
# Builds the libFuzzer targets of the format readers natively (clang with
# ASan and UBSan) into build/fuzz/ and runs each for a bounded time.
# Usage: run-fuzz.sh [seconds per target, default 300] [target...]
# Targets (all when none is named): PeImage ImportClosure DbgFile PdbFile CodeView Cabinet PointerFile
# Needs clang++ and libFuzzer's runtime (Debian: clang, libclang-rt-14-dev).
set -euo pipefail

SECONDS_EACH=${1:-300}
shift || true
ONLY=" $* "
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
OUT=$ROOT/build/fuzz
CXX=${CXX_FUZZ:-clang++}

mkdir -p "$OUT"
INCLUDES=(-I"$ROOT/common" -I"$HERE/../format" -I"$HERE/../builders" -I"$ROOT/symbolmanager")
# The import-closure walk of the symbol manager is plain C++ over the readers.
SOURCES=("$ROOT/common/ByteReader.cpp" "$HERE"/../format/*.cpp "$ROOT/symbolmanager/ImportClosure.cpp")
FLAGS=(-std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined)

# Seeds: valid files of every kind, written by the unit tests' builders.
"$CXX" -std=c++17 -O1 "${INCLUDES[@]}" "$HERE/SeedWriter.cpp" -o "$OUT/seed-writer"
for kind in pe dbg pdb codeview cab ptr; do
    mkdir -p "$OUT/seeds/$kind" "$OUT/corpus/$kind"
done
"$OUT/seed-writer" "$OUT/seeds"
# The generated sample images too, from either build: real linker layouts, PE32 and PE32+.
for samples in "$ROOT/build/samples/images" "$ROOT/build-x64/samples/images"; do
    if [ -d "$samples" ]; then
        cp "$samples"/* "$OUT/seeds/pe/"
        break
    fi
done

status=0
for target in PeImage:pe ImportClosure:pe DbgFile:dbg PdbFile:pdb CodeView:codeview Cabinet:cab PointerFile:ptr; do
    name=${target%%:*}
    kind=${target##*:}
    if [ "$ONLY" != "  " ] && [[ "$ONLY" != *" $name "* ]]; then
        continue
    fi
    echo "== ${name}Fuzzer: building"
    "$CXX" "${FLAGS[@]}" "${INCLUDES[@]}" "$HERE/${name}Fuzzer.cpp" "${SOURCES[@]}" -o "$OUT/${name}Fuzzer"
    echo "== ${name}Fuzzer: running ${SECONDS_EACH} s"
    # The growing corpus comes first: libFuzzer writes new inputs there.
    if (cd "$OUT" && "./${name}Fuzzer" -max_total_time="$SECONDS_EACH" -max_len=65536 -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 "corpus/$kind" "seeds/$kind" >"${name}Fuzzer.log" 2>&1); then
        result=clean
    else
        result="FAILED (see $OUT/${name}Fuzzer.log and the crash-* file beside it)"
        status=1
    fi
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec)|^SUMMARY" "$OUT/${name}Fuzzer.log" || true
    echo "== ${name}Fuzzer: $result"
done
exit $status
