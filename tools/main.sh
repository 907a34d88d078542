#!/usr/bin/env bash
# Sets up what is missing, builds every deliverable, installs the runnable
# result into dist/ and shows it at work under Wine.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
setup
build
install_dist
wine_prefix
start_wineserver
cd "$DIST"
say "every DLL of dist/ loads in a bare Wine prefix"
wine corvexinfo.exe ./*.dll
say "a host array to a VARIANT and back, and a Range written with fit-to-shape"
wine varcon_demo.exe
say "the window plug-in through the host's plug-in runner: 5 points at 50 dB"
wine plxrun.exe taperx.dll 5 50
