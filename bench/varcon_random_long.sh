#!/usr/bin/env bash
# A long randomized run of the conversion tests: every test of
# varcon_random_test with COUNT cases (default 200000) instead of the few
# hundred of the suite. Run after tools/test.sh has built everything.
#
#   bench/varcon_random_long.sh [COUNT]
source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"
start_wineserver
cd "$BUILD/bin"
VARCON_RANDOM_CASES=${1:-200000} wine varcon_random_test.exe
