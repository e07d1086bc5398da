#!/usr/bin/env bash
# Installs what is missing, builds Pictavo and runs every test.
#   ./test.sh              everything, in build/
#   ./test.sh --sanitize   the core tests with AddressSanitizer and UBSan, in build-asan/
#   ./test.sh --tsan       the threaded tests with ThreadSanitizer, in build-tsan/
#   ./test.sh --fuzz [S]   the decode fuzzer for S seconds (default 60), built with
#                          clang in build-fuzz/; skipped where clang is missing
#   extra arguments after the mode go to ctest, e.g. ./test.sh -R Picture
set -euo pipefail
cd "$(dirname "$0")"
source tools/install-deps.sh
install_missing_packages

mode=default
case "${1:-}" in
    --sanitize) mode=asan; shift ;;
    --tsan) mode=tsan; shift ;;
    --fuzz) mode=fuzz; shift ;;
esac

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
case "$mode" in
    default)
        cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
        cmake --build build -j "$jobs"
        ctest --test-dir build --output-on-failure -j "$jobs" "$@"
        ;;
    asan)
        cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTAVO_SANITIZE=ON
        cmake --build build-asan -j "$jobs"
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            LSAN_OPTIONS=suppressions=$PWD/tools/lsan-suppressions.txt \
            ctest --test-dir build-asan --output-on-failure -j "$jobs" -L core "$@"
        ;;
    tsan)
        cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTAVO_TSAN=ON
        cmake --build build-tsan -j "$jobs"
        TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threads "$@"
        ;;
    fuzz)
        if ! command -v clang++ >/dev/null 2>&1; then
            echo "clang++ is not installed: the decode fuzzer is not built." >&2
            exit 0
        fi
        CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DPICTAVO_FUZZ=ON
        cmake --build build-fuzz -j "$jobs" --target pictavo_decode_fuzzer
        testdata=$(sed -n 's/^PICTAVO_TESTDATA_DIR:PATH=//p' build-fuzz/CMakeCache.txt)
        # New inputs go into the first folder; the test pictures are only read.
        mkdir -p build-fuzz/corpus
        seeds=()
        for folder in bad formats/gif formats/bmp/bmpsuite formats/png formats/jpeg/libjpeg-turbo; do
            [ -d "$testdata/$folder" ] && seeds+=("$testdata/$folder")
        done
        ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            build-fuzz/bin/pictavo_decode_fuzzer -max_total_time="${1:-60}" -timeout=30 \
            -rss_limit_mb=3072 -max_len=262144 -print_final_stats=1 \
            build-fuzz/corpus "${seeds[@]}"
        ;;
esac
