#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang and runs each one for
# a while on a copy of its seed corpus, two at a time. Fails when any target
# finds a crash, a leak, a time-out or a broken invariant; what it found is
# kept in BUILD_DIR/fuzz-findings, and one input replays with
# BUILD_DIR/fuzz/<target> <file>.
#
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS_PER_TARGET]    (build-fuzz, 55)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${2:-55}
parallel=2
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "fuzz.sh: seconds per target must be a positive number" >&2
    exit 2
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKORVANEL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANEL_WERROR=ON >/dev/null
cmake --build "$build" -j "$parallel"

targets=()
for program in "$build"/fuzz/*_fuzz; do
    [ -x "$program" ] && targets+=("$(basename "$program")")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz.sh: no fuzz targets in $build/fuzz" >&2
    exit 1
fi

# Inputs the fuzzer adds go to a scratch copy, never into the repository.
work=$(mktemp -d "${TMPDIR:-/tmp}/korvanel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
findings="$build/fuzz-findings"
rm -rf "$findings"

run_target() {
    local name=$1
    local corpus="$work/corpus/$name"
    mkdir -p "$corpus" "$work/artifacts"
    if [ -d "tests/fuzz/corpus/$name" ]; then
        cp -r "tests/fuzz/corpus/$name/." "$corpus/"
    fi
    local status=0
    # -timeout: one input that runs this long counts as a hang.
    "$build/fuzz/$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/$name-" "$corpus" >"$work/$name.log" 2>&1 || status=$?
    echo "$status" >"$work/$name.status"
}

running=0
for name in "${targets[@]}"; do
    if [ "$running" -ge "$parallel" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    run_target "$name" &
    running=$((running + 1))
done
wait || true

failed=0
printf '%-28s %12s %8s %8s  %s\n' target executions cov ft result
for name in "${targets[@]}"; do
    log="$work/$name.log"
    status=$(cat "$work/$name.status" 2>/dev/null || echo 1)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    result=ok
    if [ "$status" != 0 ]; then
        result="FAILED (exit $status)"
        failed=1
    fi
    printf '%-28s %12s %8s %8s  %s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done

if [ "$failed" -ne 0 ]; then
    mkdir -p "$findings"
    cp "$work"/*.log "$findings/" 2>/dev/null || true
    cp "$work"/artifacts/* "$findings/" 2>/dev/null || true
    for name in "${targets[@]}"; do
        if [ "$(cat "$work/$name.status" 2>/dev/null || echo 1)" != 0 ]; then
            echo "== $name"
            grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$work/$name.log" | head -n 20 || true
        fi
    done
    echo "fuzz.sh: findings and logs kept in $findings" >&2
    exit 1
fi
