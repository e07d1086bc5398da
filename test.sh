#!/usr/bin/env bash
# Installs what is missing, builds Pictavo and runs every test.
#   ./test.sh              everything, in build/
#   ./test.sh --sanitize   the core tests with AddressSanitizer and UBSan, in build-asan/
#   ./test.sh --tsan       the threaded tests with ThreadSanitizer, in build-tsan/
#   extra arguments after the mode go to ctest, e.g. ./test.sh -R Picture
set -euo pipefail
cd "$(dirname "$0")"
source tools/install-deps.sh
install_missing_packages

mode=default
case "${1:-}" in
    --sanitize) mode=asan; shift ;;
    --tsan) mode=tsan; shift ;;
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
            ctest --test-dir build-asan --output-on-failure -j "$jobs" -L core "$@"
        ;;
    tsan)
        cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTAVO_TSAN=ON
        cmake --build build-tsan -j "$jobs"
        TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threads "$@"
        ;;
esac
