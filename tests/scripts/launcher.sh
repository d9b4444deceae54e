#!/usr/bin/env bash
# The first command on a fresh machine installs ccache and the second finds it: both must
# configure a build folder with the same compiler launcher, or the second rebuilds everything.
# Here a PATH without ccache stands for the fresh machine; the package install puts ccache on it.
#
# Usage: launcher.sh PROJECT_ROOT
# Exit codes: 0 passed, 1 failed, 77 skipped (no ccache to install).
set -uo pipefail

root=$1
ccache=$(command -v ccache) || { echo "SKIP: ccache is not installed"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/melo-launcher.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Every program of the system but ccache.
mkdir "$work/bin"
for dir in /usr/local/bin /usr/bin /bin; do
  for program in "$dir"/*; do
    [[ -x $program && ${program##*/} != ccache && ! -e $work/bin/${program##*/} ]] &&
      ln -s "$program" "$work/bin/${program##*/}"
  done
done

# configure_with_setup: sources the set-up as scripts/test and scripts/run do, "installs" the
# missing packages, configures the build folder; prints the launchers the folder was given.
configure_with_setup() {
  (
    export PATH=$work/bin
    source "$root/scripts/setup.sh"
    melo_install_packages() { ln -sf "$ccache" "$work/bin/ccache"; }
    melo_install_packages
    melo_configure "$work/build" -DMELO_BUILD_TESTS=OFF
  ) >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; return 1; }
  grep -E '^CMAKE_(C|CXX)_COMPILER_LAUNCHER' "$work/build/CMakeCache.txt"
}

first=$(configure_with_setup) || { echo "FAIL: the first configuration failed"; exit 1; }
second=$(configure_with_setup) || { echo "FAIL: the second configuration failed"; exit 1; }
echo "first:  ${first//$'\n'/; }"
echo "second: ${second//$'\n'/; }"
[[ $first == "$second" ]] || { echo "FAIL: the second command configured another launcher"; exit 1; }
[[ $first =~ CMAKE_CXX_COMPILER_LAUNCHER:[A-Z]+=ccache ]] ||
  { echo "FAIL: ccache, installed before the build, was not made the launcher"; exit 1; }
echo "PASS: both commands configured ccache as the compiler launcher"
