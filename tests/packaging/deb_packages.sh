#!/usr/bin/env bash
# Builds both Debian packages with cpack and checks their contents and control
# data: file lists, dependencies from dpkg-shlibdeps, maintainer scripts,
# conffiles and the unit's command line.
# Usage: deb_packages.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d /tmp/opd-deb.XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Matches read whole texts, never a pipe: under pipefail a `cmd | grep -q` that
# stops reading early fails with the writer's SIGPIPE even when it matched.
has() { grep -Eq -- "$2" <<<"$1"; }
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; fail "cpack"; }
host=$(ls "$out"/opd-host_*.deb) || fail "no opd-host .deb"
server=$(ls "$out"/opd-appserver_*.deb) || fail "no opd-appserver .deb"

expect_files() {   # deb, paths...
  local deb=$1; shift
  local list; list=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for f in "$@"; do has "$list" "^\./$f\$" || fail "$(basename "$deb") lacks $f"; done
}
expect_files "$host" usr/bin/opd-host 'usr/lib/(.*/)?libopd_host\.so\.0' 'usr/lib/(.*/)?libopd_platform\.so\.0' 'usr/lib/(.*/)?libopd_grid\.so\.0' \
  'usr/lib/(.*/)?opd31000/packages/libPkg_opd31000\.so' usr/share/applications/opd-host.desktop \
  usr/share/icons/hicolor/scalable/apps/opd-host.svg usr/share/icons/hicolor/48x48/apps/opd-host.png etc/opd/opd.ini
expect_files "$server" usr/bin/opd-appserver usr/bin/opd-seed usr/lib/systemd/system/opd-appserver.service \
  etc/opd/opd-appserver.conf usr/share/opd31000/migrations/sqlite/001_init.sql \
  usr/share/opd31000/migrations/postgresql/001_init.sql
has "$(dpkg-deb -c "$host")" opd-appserver && fail "opd-host carries the server"
has "$(dpkg-deb -c "$server")" libopd_host && fail "opd-appserver carries the host libraries"

field() { dpkg-deb -f "$1" "$2"; }
[ "$(field "$host" Package)" = opd-host ] || fail "host package name"
[ "$(field "$server" Package)" = opd-appserver ] || fail "server package name"
has "$(field "$host" Depends)" libqt6widgets6 || fail "opd-host Depends lacks libqt6widgets6 (shlibdeps)"
has "$(field "$host" Depends)" qt6-qpa-plugins || fail "opd-host Depends lacks qt6-qpa-plugins"
has "$(field "$server" Depends)" libqt6core6 || fail "opd-appserver Depends lacks libqt6core6 (shlibdeps)"
has "$(field "$server" Depends)" libpq5 || fail "opd-appserver Depends lacks libpq5 (shlibdeps)"
has "$(field "$server" Depends)" adduser || fail "opd-appserver Depends lacks adduser"
info=$(dpkg-deb -I "$server")
has "$info" '^ +[0-9]+ bytes, +[0-9]+ lines +\* +postinst' || fail "no executable postinst"
has "$info" ' postrm' || fail "no postrm"

mkdir "$out/ctl" "$out/fs"
dpkg-deb -e "$server" "$out/ctl"
dpkg-deb -x "$server" "$out/fs"
grep -q "adduser --system" "$out/ctl/postinst" || fail "postinst makes no system user"
sh -n "$out/ctl/postinst" && sh -n "$out/ctl/prerm" && sh -n "$out/ctl/postrm"
grep -qx /etc/opd/opd-appserver.conf "$out/ctl/conffiles" || fail "server conffiles"
unit=$out/fs/usr/lib/systemd/system/opd-appserver.service
grep -qx "User=opd" "$unit" || fail "unit not run as opd"
has "$(grep -E "^ExecStart=/usr/bin/opd-appserver " "$unit")" "--db" || fail "unit without --db"
has "$(grep -E "^ExecStart=" "$unit")" "--token-file /etc/opd/tokens" || fail "unit without the token file"
grep -q "^OPD_DB=sqlite:/var/lib/opd/" "$out/fs/etc/opd/opd-appserver.conf" || fail "database not under /var/lib/opd"
echo "both packages check out: $(basename "$host") $(basename "$server")"
