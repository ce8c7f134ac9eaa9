#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang, libFuzzer and the address and
# undefined-behaviour sanitizers into ./build-fuzz and runs each of them, or
# those named, for a given time:
#
#   scripts/fuzz.sh [-t seconds per target] [-j targets at once] [target...]
#
# Each run starts from the seeds the program's own writers make (fuzz_seeds)
# and the inputs kept in fuzz/corpus/<target>/, with the words of its format
# in fuzz/dict/<target>.dict. What a run adds to the corpus
# stays in build-fuzz/corpus/<target>/, what it finds (a crash, a failed
# check, a hang, memory running out) in build-fuzz/findings/<target>/, its
# output in build-fuzz/logs/<target>.log. Once mended, a finding is kept in
# fuzz/corpus/<target>/, which the tests replay. Exits non-zero when
# build-fuzz/findings holds something for a target run. FUZZ_BUILD_JOBS sets
# the build's jobs (default: all); KELVANA_FUZZ_KNOWN="words|words" passes
# over inputs that fail the checks so named (findings known already).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=300
parallel=1
while getopts "t:j:h" opt; do
    case $opt in
    t) seconds=$OPTARG ;;
    j) parallel=$OPTARG ;;
    *) sed -n '2,15p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

command -v clang++ >/dev/null || { echo "clang++ is missing (apt-get install clang libclang-rt-dev)"; exit 2; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
out=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANA_FUZZ=ON \
    -DKELVANA_TESTS=OFF -DKELVANA_BENCH=OFF "${launcher[@]}" >/dev/null || exit 2
cmake --build "$out" -j"${FUZZ_BUILD_JOBS:-$(nproc)}" >"$out/build.log" 2>&1 || { tail -30 "$out/build.log"; exit 2; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for t in "$out"/fuzz/fuzz_*; do
        name=${t##*/fuzz_}
        [ -f "$t" ] && [ -x "$t" ] && [ "$name" != seeds ] && targets+=("$name")
    done
fi
for t in "${targets[@]}"; do
    [ -x "$out/fuzz/fuzz_$t" ] || { echo "no fuzz target $t"; exit 2; }
done

# Scratch files of the targets go to memory where there is some.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$out/fuzz/fuzz_seeds" "$out/seeds" >/dev/null || exit 2
mkdir -p "$out/logs"

run() {
    local t=$1
    mkdir -p "$out/corpus/$t" "$out/findings/$t" "$out/seeds/$t"
    local dict=() kept=()
    [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
    [ -d "fuzz/corpus/$t" ] && kept=("fuzz/corpus/$t")
    "$out/fuzz/fuzz_$t" "${dict[@]}" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -malloc_limit_mb=512 -max_len=65536 \
        -artifact_prefix="$out/findings/$t/" "$out/corpus/$t" "$out/seeds/$t" "${kept[@]}" \
        >"$out/logs/$t.log" 2>&1
}

running=0
for t in "${targets[@]}"; do
    echo "fuzzing $t for $seconds s"
    run "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

status=0
for t in "${targets[@]}"; do
    execs=$(grep -oE '^#[0-9]+' "$out/logs/$t.log" | tail -1 | tr -d '#')
    found=$(find "$out/findings/$t" -type f | wc -l)
    printf '%-12s %12s executions  %3d finding(s)\n' "$t" "${execs:-0}" "$found"
    [ "$found" -eq 0 ] || status=1
done
exit $status
