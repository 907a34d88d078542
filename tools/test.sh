#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs the whole test suite
# under Wine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
setup
build
wine_prefix
start_wineserver
say "running the tests"
cd "$BUILD"
ctest --output-on-failure -j "$(nproc)" --timeout 600 "$@"
