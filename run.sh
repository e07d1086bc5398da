#!/usr/bin/env bash
# Installs what is missing, builds Pictavo and starts it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")"
source tools/install-deps.sh
install_missing_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"
exec ./build/bin/Pictavo "$@"
