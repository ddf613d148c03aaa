# Shared by scripts/run and scripts/test: installs what is missing, then
# configures and builds into build/. Source it; do not run it.

TARVEX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TARVEX_BUILD="$TARVEX_ROOT/build"

# Everything the build, the tests and the benchmarks need, from Debian's packages.
TARVEX_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-translations-l10n libqt6svg6 libgl-dev libqscintilla2-qt6-dev
  libgtest-dev
  fonts-ipafont-mincho fonts-ipafont-gothic
  xvfb xauth openbox xdotool strace python3 python3-ezdxf time desktop-file-utils ser2net
  systemd adduser libsystemd-dev lintian
  libcpp-httplib-dev chromium python3-websocket
)
# Installed without what they recommend: LinuxCNC's interpreter rs274 (the
# restart tests' oracle) would otherwise bring a real-time kernel and its GUIs.
TARVEX_LEAN_PACKAGES=(linuxcnc-uspace)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_of() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

ensure_packages() {
  local missing lean
  mapfile -t missing < <(missing_of "${TARVEX_PACKAGES[@]}")
  mapfile -t lean < <(missing_of "${TARVEX_LEAN_PACKAGES[@]}")
  if [ "${#missing[@]}" -gt 0 ] || [ "${#lean[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]} ${lean[*]}"
    as_root apt-get update
  fi
  if [ "${#missing[@]}" -gt 0 ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
  fi
  if [ "${#lean[@]}" -gt 0 ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${lean[@]}"
  fi
}

build_tarvex() {
  if [ ! -f "$TARVEX_BUILD/build.ninja" ]; then
    cmake -S "$TARVEX_ROOT" -B "$TARVEX_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$TARVEX_BUILD"
}
