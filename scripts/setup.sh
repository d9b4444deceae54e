# Shared set-up for scripts/run and scripts/test: install what is missing,
# then configure and build. Sourced, not run.
set -euo pipefail

MELO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
MELO_JOBS=${MELO_JOBS:-$(nproc)}

melo_missing_packages() {
  local pkg missing=()
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done <"$MELO_ROOT/scripts/packages.txt"
  echo "${missing[@]:-}"
}

melo_install_packages() {
  local missing
  missing=$(melo_missing_packages)
  [[ -z "$missing" ]] && return 0
  echo "Installing missing Debian packages: $missing"
  local sudo=""
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: $missing" >&2; return 1; }
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
}

# ccache, where it is installed, keeps what was compiled across build folders
# and fresh clones of the project (paths inside the project count relative to
# its root). Decided when a build is configured, after melo_install_packages:
# deciding it when this file is sourced gave a first command that installed
# ccache a build folder without it, and the next command, finding ccache,
# rebuilt everything. An empty launcher is passed too, so a folder configured
# with ccache that no longer has it is configured again without.
melo_compiler_launcher() {
  if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$MELO_ROOT} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
    MELO_LAUNCHER=ccache
  else
    MELO_LAUNCHER=""
  fi
}

# melo_configure DIR [cmake options...]
melo_configure() {
  local dir=$1
  shift
  melo_compiler_launcher
  cmake -S "$MELO_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMELO_WERROR=ON \
    -DCMAKE_C_COMPILER_LAUNCHER="$MELO_LAUNCHER" -DCMAKE_CXX_COMPILER_LAUNCHER="$MELO_LAUNCHER" \
    "$@" >/dev/null
}

# melo_build DIR [cmake options...] [-- build options...]
melo_build() {
  local dir=$1
  shift
  local configure=()
  while [[ $# -gt 0 && "$1" != "--" ]]; do
    configure+=("$1")
    shift
  done
  [[ $# -gt 0 ]] && shift
  melo_configure "$dir" "${configure[@]}"
  cmake --build "$dir" -j "$MELO_JOBS" "$@"
}
