#!/usr/bin/env bash
# The installed form: what cmake --install puts where passes the desktop
# and AppStream validators, and the Debian package, unpacked into a scratch
# root, runs kt560ax and makes the user's own Language.ini.
#   package_test.sh BUILD_DIR
set -u
build=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

DESTDIR="$work/install" cmake --install "$build" --prefix /usr >/dev/null || fail "cmake --install"
share=$work/install/usr/share
for f in bin/kt560ax bin/kt560ax-backup share/kt560ax/Language.ini share/man/man1/kt560ax.1 \
    share/bash-completion/completions/kt560ax share/icons/hicolor/scalable/apps/kt560ax-backup.svg \
    share/icons/hicolor/48x48/apps/kt560ax-backup.png share/doc/kt560ax-backup/contrib/mail-summary; do
    [ -f "$work/install/usr/$f" ] || fail "$f is not installed"
done
desktop-file-validate "$share/applications/kt560ax-backup.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$share/metainfo/io.kt560ax.backup.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null) ||
    fail "cpack"
deb=$(ls "$work"/deb/kt560ax-backup_*.deb) || fail "no package"
depends=$(dpkg-deb -f "$deb" Depends)
for d in ${depends//,/ }; do
    case $d in libqt6*|qt6-*|libgit2-*) ;; *) fail "the package depends on $d" ;; esac
done
dpkg -x "$deb" "$work/root" || fail "dpkg -x"
"$work/root/usr/bin/kt560ax" --help | grep -q "^Usage: kt560ax" || fail "kt560ax --help from the package"
HOME=$work/home XDG_CONFIG_HOME= XDG_STATE_HOME= "$work/root/usr/bin/kt560ax" log 2>/dev/null
cmp -s "$work/home/.config/kt560ax/Language.ini" "$work/root/usr/share/kt560ax/Language.ini" ||
    fail "the user's Language.ini was not made from the shipped one"
echo "1 passed, 0 failed"
