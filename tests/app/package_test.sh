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
    share/icons/hicolor/48x48/apps/kt560ax-backup.png share/doc/kt560ax-backup/contrib/fleet.ini; do
    [ -f "$work/install/usr/$f" ] || fail "$f is not installed"
done
# The hooks are programs a fleet runs: outside /usr/share/doc, which a
# system may leave out, and executable.
for f in mail-summary notify-chat; do
    [ -x "$share/kt560ax/hooks/$f" ] || fail "the hook $f is not installed as a program"
done
desktop-file-validate "$share/applications/kt560ax-backup.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$share/metainfo/io.kt560ax.backup.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null) ||
    fail "cpack"
deb=$(ls "$work"/deb/kt560ax-backup_*.deb) || fail "no package"
depends=$(dpkg-deb -f "$deb" Depends)
for d in ${depends//,/ }; do
    case $d in libqt6*|qt6-*|libgit2-*|libsodium*) ;; *) fail "the package depends on $d" ;; esac
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for r in fonts-wqy-microhei qt6-translations-l10n; do
    case ", $recommends," in *", $r,"*) ;; *) fail "the package does not recommend $r" ;; esac
done
dpkg -x "$deb" "$work/root" || fail "dpkg -x"
"$work/root/usr/bin/kt560ax" --help | grep -q "^Usage: kt560ax" || fail "kt560ax --help from the package"
HOME=$work/home XDG_CONFIG_HOME= XDG_STATE_HOME= "$work/root/usr/bin/kt560ax" log 2>/dev/null
cmp -s "$work/home/.config/kt560ax/Language.ini" "$work/root/usr/share/kt560ax/Language.ini" ||
    fail "the user's Language.ini was not made from the shipped one"
echo "1 passed, 0 failed"
