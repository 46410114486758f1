#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR with prefix /usr and runs the
# installed programs only: the seeder makes a database, the installed server
# serves it with a token file, and the installed host, offscreen, opens the
# screen and runs a first search. Proves the install rpath (no build folder on
# the library path) and the default package folder.
# Usage: install_run.sh BUILD_DIR
set -euo pipefail
build=$1
tmp=$(mktemp -d /tmp/opd-install.XXXXXX)
server=
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null; rm -rf "$tmp"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$tmp/root cmake --install "$build" --prefix /usr >/dev/null
root=$tmp/root
for f in usr/bin/opd-host usr/bin/opd-appserver usr/bin/opd-seed etc/opd/opd.ini etc/opd/opd-appserver.conf \
         usr/share/applications/opd-host.desktop usr/lib/systemd/system/opd-appserver.service; do
  [ -e "$root/$f" ] || fail "missing $f"
done
pkg=$(find "$root/usr/lib" -path '*/opd31000/packages/libPkg_opd31000.so')
[ -n "$pkg" ] || fail "no package under usr/lib/*/opd31000/packages"
grep -q "ExecStart=/usr/bin/opd-appserver " "$root/usr/lib/systemd/system/opd-appserver.service" \
  || fail "unit does not start /usr/bin/opd-appserver"
# Shared libraries versioned; no path of the build tree left in any rpath.
for lib in libopd_host.so.0 libopd_platform.so.0 libopd_grid.so.0; do
  [ -n "$(find "$root/usr/lib" -name "$lib")" ] || fail "no $lib"
done
rpaths=$(grep -E 'R(UN)?PATH' <<<"$(readelf -d "$root/usr/bin/opd-host" "$pkg")" || true)
if grep -qF "$build" <<<"$rpaths"; then
  fail "an installed rpath names the build folder"
fi
unset LD_LIBRARY_PATH
grep -qF "$root/" <<<"$(grep libopd_host <<<"$(ldd "$root/usr/bin/opd-host")")" || fail "opd-host does not find the installed libopd_host"

export XDG_RUNTIME_DIR=$tmp/runtime XDG_CONFIG_HOME=$tmp/config XDG_CONFIG_DIRS=$tmp/xdg
install -d -m 700 "$XDG_RUNTIME_DIR"
db=sqlite:$tmp/demo.db
"$root/usr/bin/opd-seed" --db "$db" --orders 3000 --seed 1 >/dev/null
echo "0123456789abcdef maria" > "$tmp/tokens"
: > "$tmp/server.out"; : > "$tmp/server.err"   # there before the server's own redirection, which may come after the first look
"$root/usr/bin/opd-appserver" --db "$db" --listen 127.0.0.1:0 --token-file "$tmp/tokens" > "$tmp/server.out" 2>"$tmp/server.err" &
server=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$tmp/server.out")
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || fail "server ended: $(cat "$tmp/server.err")"
  sleep 0.1
done
[ -n "$port" ] || fail "server not ready"

run_host() {   # token, screenshot -> stderr in $tmp/host.err
  cat > "$tmp/opd.ini" <<INI
[server]
host=127.0.0.1
port=$port
token=$1
[database]
url=$db
[login]
branch=0001
INI
  QT_QPA_PLATFORM=offscreen timeout 120 "$root/usr/bin/opd-host" --config "$tmp/opd.ini" --open OPD31000 \
    --focus dbgPEDIDO --screenshot "$2" 2>"$tmp/host.err"
}
run_host 0123456789abcdef "$tmp/shot.png" || fail "host exit $?: $(cat "$tmp/host.err")"
[ -s "$tmp/shot.png" ] || fail "no screenshot"
grep -q "pacote carregado de $pkg" "$tmp/host.err" || fail "package not from the install: $(cat "$tmp/host.err")"
if grep -E "mensagem:|Erro" "$tmp/host.err"; then fail "the first search reported a failure"; fi
# The same run with a token the server does not know is refused: the search
# above really went to the installed server.
run_host wrongtoken99 "$tmp/refused.png" || true
grep -q "não autorizado" "$tmp/host.err" || fail "a wrong token was not refused: $(cat "$tmp/host.err")"
echo "installed tree under $root works"
