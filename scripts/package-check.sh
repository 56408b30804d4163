#!/usr/bin/env bash
# Builds the Debian packages from a clean clone of the committed tree, checks
# them with lintian (no error allowed), installs them and runs their
# autopkgtest (debian/tests) the way autopkgtest runs it on a testbed: from
# the source tree, as root, with AUTOPKGTEST_TMP. Needs root (it installs).
# usage: package-check.sh [--keep]   (--keep leaves the packages installed)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
work=$(mktemp -d /tmp/korvex-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT
git clone -q "$src" "$work/korvex"
cd "$work/korvex"
dpkg-checkbuilddeps
# The test suite already ran on the tree (scripts/test.sh).
DEB_BUILD_OPTIONS="nocheck parallel=2" dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1 ||
    { tail -50 "$work/build.log"; exit 1; }
ls ../*.deb
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs ../*.changes
apt-get install -y -qq ../*.deb >/dev/null
mkdir -m 755 "$work/tmp"
status=0
AUTOPKGTEST_TMP=$work/tmp debian/tests/installed || status=$?
if [ "${1:-}" != "--keep" ]; then
    apt-get purge -y -qq korvex libkorvex-dev libkorvex1 >/dev/null
fi
exit $status
