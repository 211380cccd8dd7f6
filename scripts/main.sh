#!/usr/bin/env bash
# The main job: builds the component and kvmail, then runs kvmail.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target kvmail orkv14
./build/linux-release/tools/kvmail/kvmail info
