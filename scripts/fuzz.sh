#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan into build-fuzz/ (or
# $KAVURIO_FUZZ_BUILD_DIR) and runs each for FUZZ_SECONDS (default 60) on a copy of
# its seed corpus. Fails on a crash, a hang, a leak or a sanitizer report; the
# input that did it is kept in the work folder it names. Extra arguments go to cmake.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVURIO_FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=(read_field load_titles load_volumes resolve_names)

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVURIO_FUZZ=ON -DKAVURIO_TESTS=OFF -DKAVURIO_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

# New corpus entries and crash inputs go here, never into the repository.
work=$(mktemp -d "${TMPDIR:-/tmp}/kavurio-fuzz.XXXXXX")
# Any sanitizer report ends the run with an error, leaks included.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

failed=()
for t in "${targets[@]}"; do
    corpus=$work/$t/corpus
    mkdir -p "$corpus" "$work/$t/artifacts"
    cp -r "$here/fuzz/corpus/$t/." "$corpus/"
    log=$work/$t/log
    echo "fuzz: $t for ${seconds}s"
    if (cd "$work/$t" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/$t/artifacts/" "$corpus" >"$log" 2>&1); then
        grep -E '^(Done|#[0-9]+ +DONE)' "$log" | tail -1 | sed "s/^/fuzz: $t: /"
    else
        echo "fuzz: $t FAILED (exit $?); last lines of $log:"
        tail -40 "$log"
        ls "$work/$t/artifacts/" | sed "s|^|fuzz: $t: input kept: $work/$t/artifacts/|"
        failed+=("$t")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failed: ${failed[*]} (work folder $work)"
    exit 1
fi
rm -rf "$work"
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each, no failure"
