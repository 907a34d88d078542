# Shared by the README's two commands: install what is missing, build, and
# prepare the Wine prefix everything runs in.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${CORVEX_BUILD:-$ROOT/build}
DIST=${CORVEX_DIST:-$ROOT/dist}
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
# No offer to install Wine's .NET or HTML add-ons when the prefix is made:
# with a display that offer is a dialog that waits for ever.
export WINEDLLOVERRIDES="mscoree,mshtml="

PACKAGES="cmake make g++-mingw-w64-i686 wine wine32:i386 googletest xvfb xauth"

say() { printf '==> %s\n' "$*"; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}

missing_packages() {
  local p missing=""
  for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
  done
  printf '%s' "$missing"
}

setup() {
  local missing
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0
  say "installing:$missing"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  # shellcheck disable=SC2086
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing </dev/null
}

build() {
  say "building in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" -j "$(nproc)"
}

install_dist() {
  say "installing into $DIST"
  rm -rf "$DIST"
  cmake --install "$BUILD" --prefix "$DIST" >/dev/null
}

wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 600 wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w
  fi
}

# One wineserver for the whole run: every Wine start then costs half a
# second instead of several.
start_wineserver() {
  wineserver -p >/dev/null 2>&1 </dev/null
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  # The first Wine program of a server's life starts Wine's background
  # services, which inherit its standard output and error and outlive it.
  # Started by a test, they would hold that test's output pipes open, and
  # CTest waits for those until the test's time-out. Start them here, with
  # null handles.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}
