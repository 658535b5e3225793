#!/bin/bash
# Fuzzing campaigns, corpus minimisation and coverage of every libFuzzer
# target in fuzz/; not part of scripts/test.sh (it runs for hours). Run it
# niced on a shared machine: nice -n 19 scripts/fuzz.sh
#
#   scripts/fuzz.sh [CPU-MINUTES [TARGET...]]
#
# 1. Builds the targets with clang, libFuzzer, AddressSanitizer and
#    UndefinedBehaviorSanitizer in build/fuzz.
# 2. Fuzzes each target (all of them unless named) for CPU-MINUTES of CPU
#    time (default 20), in rounds of at most two minutes, from its committed
#    corpus fuzz/corpus/<name>; new inputs go to found/<name> of that build
#    folder, and a crash stops the script with the reproducer in its
#    crashes/.
# 3. Minimises the committed corpus with -merge=1 over it and what the
#    rounds found: the named seeds stay as they are, and of the inputs
#    found (named by their SHA-1) only a set that reaches every edge the
#    whole reaches is kept (-use_counters=0: hit counts would keep ten
#    times as many), none over 16 KiB, so that the corpus stays small and
#    the replay every test run makes stays quick. CPU-MINUTES 0 does this
#    and the coverage alone.
# 4. Builds the replay programs with clang's source-based coverage in
#    build/fuzz-cov, replays each corpus, and writes per target the
#    llvm-cov report of the parser sources it drives and the lines not
#    reached (coverage/<name>.report and .missed there).
#
# TEKO_FUZZ_WALL_MINUTES caps the wall time of each target's campaign (on a
# loaded machine CPU time comes slowly). Prints the CPU seconds spent per
# target and each report's summary.
set -e
cd "$(dirname "$0")/.."
FUZZ=build/fuzz  # the fuzzing build, what it finds and its crashes
COV=build/fuzz-cov  # the coverage build and reports
minutes=${1:-20}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in fuzz/fuzz_*.cpp; do n=$(basename "$f" .cpp); targets+=("${n#fuzz_}"); done
fi
# The parser sources each target drives (the coverage report is cut to them).
sources() {
    case "$1" in
    dvbsub) echo src/dvbsub ;;
    teletext) echo src/teletext ;;
    psi) echo src/demux/PMTLoader.cpp src/platform/ByteReader.h ;;
    pes_splitter) echo src/demux/PESFilter.cpp src/demux/PESFilterTiming.cpp ;;
    tsinfo) echo sim/TsInfo.cpp sim/PesScan.cpp sim/SectionAssembler.cpp ;;
    palette) echo sim/Palette.cpp ;;
    handoff) echo src/app/ServiceWatch.cpp src/platform/TextFile.cpp src/platform/WorldFile.cpp ;;
    config) echo src/config/Settings.cpp src/config/Options.cpp src/platform/TextFile.cpp ;;
    channels) echo src/app/ChannelList.cpp src/platform/TextFile.cpp ;;
    translation) echo src/config/Translator.cpp src/platform/TextFile.cpp ;;
    *) echo src ;;
    esac
}

export CC=clang CXX=clang++
cmake -S . -B $FUZZ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTEKO_LIBFUZZER=ON -DTEKO_SANITIZE=ON \
    > $FUZZ.configure.log 2>&1 || { cat $FUZZ.configure.log; exit 1; }
cmake --build $FUZZ -j2 $(for t in "${targets[@]}"; do echo --target "fuzz_$t"; done)
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p $FUZZ/crashes

for t in "${targets[@]}"; do
    bin=$FUZZ/fuzz/fuzz_$t
    work=$FUZZ/found/$t
    mkdir -p "$work"
    spent=0
    budget=$((minutes * 60))
    deadline=$(( $(date +%s) + ${TEKO_FUZZ_WALL_MINUTES:-100000} * 60 ))
    while [ "$spent" -lt "$budget" ] && [ "$(date +%s)" -lt "$deadline" ]; do
        round=$((budget - spent))
        [ "$round" -gt 120 ] && round=120
        # -max_total_time counts wall time; the CPU time is what counts here.
        # The daemon's log (standard error) is closed: it would cost more
        # than the parsing and fill the disk. libFuzzer keeps its own copy
        # of standard error for its messages; a reproducer in crashes/ is
        # run again by hand for the sanitizer's report.
        /usr/bin/time -f "%U %S" -o $FUZZ/round.time \
            "$bin" -max_total_time="$round" -timeout=10 -print_final_stats=1 -close_fd_mask=2 \
            -artifact_prefix=$FUZZ/crashes/"$t"- "$work" "fuzz/corpus/$t" \
            > $FUZZ/"$t".log 2>&1 || { tail -40 $FUZZ/"$t".log; exit 1; }
        cpu=$(awk '{ printf "%d", $1 + $2 }' $FUZZ/round.time)
        [ "$cpu" -lt 1 ] && cpu=1
        spent=$((spent + cpu))
    done
    runs=$(grep -hs "stat::number_of_executed_units" $FUZZ/"$t".log | awk '{ print $2 }' || true)
    before=$(ls "fuzz/corpus/$t" | wc -l)
    find "$work" -type f -size +16k -delete
    fresh=$FUZZ/fresh/$t
    rm -rf "$fresh"
    mkdir -p "$fresh"
    "$bin" -merge=1 -use_counters=0 -close_fd_mask=2 "$fresh" "fuzz/corpus/$t" "$work" \
        > $FUZZ/"$t".merge.log 2>&1
    seeds=$(find "fuzz/corpus/$t" -type f -regextype posix-basic ! -regex '.*/[0-9a-f]\{40\}')
    find "fuzz/corpus/$t" -type f -regextype posix-basic -regex '.*/[0-9a-f]\{40\}' -delete
    seedSums=$(for f in $seeds; do sha1sum "$f" | cut -c1-40; done)
    for f in "$fresh"/*; do
        [ -e "$f" ] || continue
        echo "$seedSums" | grep -qx "$(basename "$f")" || cp "$f" "fuzz/corpus/$t/"
    done
    after=$(ls "fuzz/corpus/$t" | wc -l)
    echo "$t: $spent CPU seconds (last round $runs runs), corpus $before -> $after files, $(du -sk "fuzz/corpus/$t" | cut -f1) KiB"
done

# Coverage: the replay mains over the corpora, with source-based coverage.
cmake -S . -B $COV -DCMAKE_BUILD_TYPE=Debug -DTEKO_LIBFUZZER=OFF \
    -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
    -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" > $COV.configure.log 2>&1 ||
    { cat $COV.configure.log; exit 1; }
cmake --build $COV -j2 $(for t in "${targets[@]}"; do echo --target "fuzz_$t"; done)
mkdir -p $COV/coverage
for t in "${targets[@]}"; do
    bin=$COV/fuzz/fuzz_$t
    out=$COV/coverage/$t
    LLVM_PROFILE_FILE="$out.profraw" "$bin" "fuzz/corpus/$t" > /dev/null 2>&1
    llvm-profdata merge -sparse "$out.profraw" -o "$out.profdata"
    # shellcheck disable=SC2046
    llvm-cov report "$bin" -instr-profile="$out.profdata" $(sources "$t") > "$out.report"
    # Every line that ran 0 times, as "file:line: source".
    # shellcheck disable=SC2046
    llvm-cov show "$bin" -instr-profile="$out.profdata" -show-line-counts $(sources "$t") |
        awk '/^\/.*:$/ { file = substr($0, 1, length($0) - 1) }
             /^ *[0-9]+\| *0\|/ { split($0, f, "|"); sub(/^ */, "", f[1]); print file ":" f[1] ":" f[3] }' \
        > "$out.missed"
    echo "== $t"
    tail -1 "$out.report"
done
