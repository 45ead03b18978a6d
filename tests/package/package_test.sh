#!/usr/bin/env bash
# The Debian packages: made from this build into a scratch folder, checked with Debian's own tools
# (lintian, desktop-file-validate, hardening-check, systemd-analyze), unpacked into a scratch root
# and their programs run from there; as root without a running systemd, the service's package is
# also installed, enabled, removed and purged in a scratch dpkg root. Skipped (77) without the
# packaging tools.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in dpkg-deb dpkg-shlibdeps cpack groff lintian desktop-file-validate hardening-check \
            systemd-analyze curl; do
  command -v "$tool" >/dev/null || { echo "package: no $tool, skipped"; exit 77; }
done

scratch=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$scratch"/out/orn312-*.deb)
[ ${#debs[@]} -eq 3 ] || fail "not three packages: ${debs[*]}"

# Each package holds the files of its users, and its documentation.
contents() {
  local name=$1; shift
  local deb=("$scratch"/out/"$name"_*.deb)
  [ -f "${deb[0]}" ] || fail "no package $name"
  [ "$(dpkg-deb -f "${deb[0]}" Package)" = "$name" ] || fail "$name: package name"
  local expected
  expected=$(printf '%s\n' "$@" ./usr/share/doc/"$name"/{README,changelog.gz,copyright} | sort)
  local files
  files=$(dpkg-deb -c "${deb[0]}" | awk '$1 !~ /^d/ {print $6}' | sort)
  [ "$files" = "$expected" ] || fail "$name: files differ from the expected list:
$(diff <(echo "$expected") <(echo "$files"))"
  dpkg-deb -c "${deb[0]}" | awk '$1 !~ /^d/ && $6 ~ /usr\/bin\// && $1 != "-rwxr-xr-x" {exit 1}' ||
    fail "$name: a program is not executable"
}
contents orn312-control ./usr/bin/orn312-control ./usr/share/applications/orn312-control.desktop \
  ./usr/share/icons/hicolor/scalable/apps/orn312-control.svg \
  ./usr/share/man/man1/orn312-control.1.gz
contents orn312-tools ./usr/bin/orn312ctl ./usr/bin/orn312-scheduler \
  ./usr/lib/systemd/system/orn312-scheduler.service ./usr/share/man/man1/orn312ctl.1.gz \
  ./usr/share/man/man1/orn312-scheduler.1.gz
contents orn312-sim ./usr/bin/orn312-sim ./usr/share/man/man1/orn312-sim.1.gz

# The window's package brings Qt and its SVG plugin, and recommends the fonts and Qt's
# translations (as Debian's packages take fonts); the others nothing of them.
depends() { dpkg-deb -f "$scratch"/out/"$1"_*.deb Depends; }
recommends() { dpkg-deb -f "$scratch"/out/"$1"_*.deb Recommends; }
for d in libqt6widgets6 libqt6svg6; do
  [[ "$(depends orn312-control)" == *"$d"* ]] || fail "orn312-control lacks $d"
done
for r in fonts-noto-cjk qt6-translations-l10n; do
  [[ "$(recommends orn312-control)" == *"$r"* ]] || fail "orn312-control does not recommend $r"
  [[ "$(depends orn312-control)" != *"$r"* ]] || fail "orn312-control depends on $r"
done
for p in orn312-tools orn312-sim; do
  [[ "$(depends $p)" != *qt6* && "$(depends $p)" != *fonts* ]] || fail "$p depends on Qt or fonts"
  [[ "$(depends $p)" == *libc6* ]] || fail "$p: no library dependencies worked out"
done

# lintian: no errors, no warnings.
lintian --tag-display-limit 0 "${debs[@]}" >"$scratch/lintian.log" 2>&1 || true
grep -E '^[EW]: ' "$scratch/lintian.log" && fail "lintian reports errors or warnings"

root="$scratch/root"
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
bin="$root/usr/bin"

desktop-file-validate "$root/usr/share/applications/orn312-control.desktop" ||
  fail "the desktop entry does not validate"
# Control-flow protection is compiled in (-fcf-protection), but Debian 12's C start files carry no
# IBT/SHSTK marking, so no program linked there gets it (/usr/bin/ls fails that check too).
hardening-check --quiet --nocfprotection "$bin"/* || fail "a program lacks hardening"

# The unit's sandbox scores 3.0 or better, and still lets the service open ttys and TCP.
unit="$root/usr/lib/systemd/system/orn312-scheduler.service"
score=$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
        sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
[ -n "$score" ] || fail "systemd-analyze gave no score"
awk -v s="$score" 'BEGIN {exit !(s <= 3.0)}' || fail "unit exposure $score, over 3.0"
grep -qx 'ExecStart=/usr/bin/orn312-scheduler $ORN312_OPTS /var/lib/orn312/Planinfo.ini' "$unit" ||
  fail "unit ExecStart"
grep -qx "EnvironmentFile=-/etc/default/orn312-scheduler" "$unit" || fail "unit reads no defaults"
for line in "DeviceAllow=char-pts rw" "DeviceAllow=/dev/ptmx rw" "DeviceAllow=char-ttyUSB rw" \
            "SupplementaryGroups=dialout"; do
  grep -qx "$line" "$unit" || fail "unit lacks $line"
done
grep -q "^RestrictAddressFamilies=.*AF_INET" "$unit" || fail "unit bars TCP"
echo "package: unit exposure $score"

# Every library the programs need is found; only the window loads Qt.
for p in orn312-control orn312ctl orn312-sim orn312-scheduler; do
  ! ldd "$bin/$p" | grep -q "not found" || fail "$p misses a library: $(ldd "$bin/$p")"
  "$bin/$p" --version | grep -qx "$p [0-9.]*" || fail "$p --version"
  "$bin/$p" --help | grep -q "^usage: $p" || fail "$p --help"
done
for p in orn312ctl orn312-sim orn312-scheduler; do
  ! ldd "$bin/$p" | grep -q libQt || fail "$p links Qt"
done

# The window without a display: one line, status 2 (not Qt's abort).
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/orn312-control" \
  >"$scratch/window.out" 2>"$scratch/window.err" </dev/null || status=$?
[ "$status" = 2 ] || fail "the window without a display ends with $status: $(cat "$scratch/window.err")"
[ "$(wc -l <"$scratch/window.err")" = 1 ] && grep -q "orn312-control: .*display" "$scratch/window.err" ||
  fail "the window without a display says: $(cat "$scratch/window.err")"

# The simulator, the client and the service of the packages talk to each other, over TCP and
# the pseudo-terminal.
"$bin/orn312-sim" --tcp 0 --pty >"$scratch/sim.out" </dev/null &
pids+=($!)
for _ in $(seq 50); do
  port=$(sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$scratch/sim.out")
  pty=$(sed -n 's/^pty \(.*\)$/\1/p' "$scratch/sim.out")
  [ -n "$port" ] && [ -n "$pty" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] && [ -n "${pty:-}" ] || fail "the simulator did not start"
"$bin/orn312ctl" --tcp "127.0.0.1:$port" identify | grep -q "identified" || fail "identify"
"$bin/orn312ctl" --serial "$pty" status >"$scratch/status.out" 2>"$scratch/status.err" ||
  fail "status over the pty: $(cat "$scratch/status.err")"
grep -q "^main source: " "$scratch/status.out" && ! grep -q -- "->" "$scratch/status.out" ||
  fail "status over the pty prints more than the state: $(cat "$scratch/status.out")"

# The simulator's console on a FIFO hears every writer, and a bad value says "error:".
mkfifo "$scratch/console"
"$bin/orn312-sim" --tcp 0 <"$scratch/console" >"$scratch/console.out" &
pids+=($!)
for line in "signal HDMI off" "stall abc" "state"; do
  echo "$line" >"$scratch/console"
  sleep 0.2
done
grep -q "stdin signal HDMI off" "$scratch/console.out" &&
  grep -q "^error: stall needs" "$scratch/console.out" &&
  grep -q "^state " "$scratch/console.out" ||
  fail "the simulator's console: $(cat "$scratch/console.out")"

service() {  # PLANFILE CONNECT-KEYS: the service under a journal stream until it connects
  printf '[CONNECT]\n%s\n' "$2" >"$1"
  : >"$scratch/service.err"
  JOURNAL_STREAM=$(stat -c '%d:%i' "$scratch/service.err") \
    "$bin/orn312-scheduler" "$1" 2>>"$scratch/service.err" >/dev/null &
  local pid=$!
  pids+=($pid)
  for _ in $(seq 100); do
    grep -q "connected: " "$scratch/service.err" && break
    sleep 0.1
  done
  kill -TERM "$pid"
  wait "$pid" || true
  grep -q "^<6>connected: " "$scratch/service.err" ||
    fail "the service did not connect ($2): $(cat "$scratch/service.err")"
  ! grep -v '^<[346]>' "$scratch/service.err" || fail "a journal line without its priority"
}
service "$scratch/tcp.ini" "$(printf 'SerialTcp=0\nIP=127.0.0.1\nPort=%s' "$port")"
service "$scratch/pty.ini" "$(printf 'SerialTcp=1\nComPort=%s' "$pty")"

# The service's HTTP side as the package ships it: a PIN set through --auth (its file 0600, no PIN
# in it), the page served from the program with its Content-Security-Policy, the API closed
# without a session.
echo 2468 | "$bin/orn312-scheduler" --auth "$scratch/auth" --set-pin operator >/dev/null 2>&1 ||
  fail "--set-pin"
[ "$(stat -c %a "$scratch/auth")" = 600 ] || fail "the auth file is not 0600"
! grep -q 2468 "$scratch/auth" || fail "the auth file holds the PIN"
printf '[CONNECT]\nSerialTcp=0\nIP=127.0.0.1\nPort=%s\n' "$port" >"$scratch/http.ini"
"$bin/orn312-scheduler" --http 127.0.0.1:0 --auth "$scratch/auth" "$scratch/http.ini" \
  2>"$scratch/http.err" >/dev/null </dev/null &
pids+=($!)
for _ in $(seq 100); do
  http=$(sed -n 's/.*serving HTTP on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/http.err")
  [ -n "$http" ] && break
  sleep 0.1
done
[ -n "${http:-}" ] || fail "the service serves no HTTP: $(cat "$scratch/http.err")"
status=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$http/api/v1/state")
[ "$status" = 401 ] || fail "GET /api/v1/state without a session: $status, not 401"
curl -s -D "$scratch/page.head" -o "$scratch/page.html" "http://127.0.0.1:$http/" ||
  fail "GET / failed"
grep -q '<script src="page.js"' "$scratch/page.html" || fail "GET / is not the page"
grep -qi "^content-security-policy: default-src 'self'" "$scratch/page.head" ||
  fail "the page comes without its Content-Security-Policy: $(cat "$scratch/page.head")"
# Anywhere but loopback it needs an operator PIN: refused at the start without one.
status=0
"$bin/orn312-scheduler" --http 0.0.0.0:0 --auth "$scratch/nopin" "$scratch/http.ini" \
  >/dev/null 2>"$scratch/nopin.err" </dev/null || status=$?
[ "$status" = 2 ] && grep -q "^orn312-scheduler: .*operator PIN" "$scratch/nopin.err" ||
  fail "--http 0.0.0.0 without an operator PIN: status $status, $(cat "$scratch/nopin.err")"

# The manual pages format without warnings and name their program.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  warnings=$(gzip -dc "$page" | groff -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$name.1: $warnings"
  gzip -dc "$page" | grep -q "^\.TH ${name^^} 1" || fail "$name.1 has no title line"
done

# The desktop entry starts the window and names the icon the package holds.
entry="$root/usr/share/applications/orn312-control.desktop"
grep -qx "Exec=orn312-control" "$entry" || fail "desktop entry Exec"
grep -qx "Icon=orn312-control" "$entry" || fail "desktop entry Icon"
grep -q "<svg" "$root/usr/share/icons/hicolor/scalable/apps/orn312-control.svg" || fail "icon"

# Install, enable, remove and purge the service's package in a scratch dpkg root: nothing is
# left of it. Maintainer scripts run outside the root (DPKG_ROOT), as root, without systemd.
if [ "$(id -u)" = 0 ] && [ ! -d /run/systemd/system ] && command -v systemctl >/dev/null; then
  d="$scratch/dpkg"
  mkdir -p "$d/var/lib/dpkg/info" "$d/var/lib/dpkg/updates" "$d/usr/lib" "$d/etc"
  ln -s usr/lib "$d/lib"
  touch "$d/var/lib/dpkg/status" "$d/var/lib/dpkg/available"
  dpkg_root=(dpkg --root="$d" --force-script-chrootless --force-depends --log=/dev/null)
  "${dpkg_root[@]}" -i "$scratch"/out/orn312-tools_*.deb >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log" >&2; fail "dpkg -i"; }
  [ ! -e "$d/etc/systemd/system/multi-user.target.wants/orn312-scheduler.service" ] ||
    fail "installing enabled the service"
  systemctl --root="$d" enable orn312-scheduler.service >/dev/null 2>&1 ||
    fail "systemctl enable"
  [ -L "$d/etc/systemd/system/multi-user.target.wants/orn312-scheduler.service" ] ||
    fail "systemctl enable made no link"
  wants="$d/etc/systemd/system/multi-user.target.wants/orn312-scheduler.service"
  [ -f "$d/var/lib/systemd/deb-systemd-helper-enabled/orn312-scheduler.service.dsh-also" ] ||
    fail "postinst recorded no state of the unit"
  "${dpkg_root[@]}" -r orn312-tools >>"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log" >&2; fail "dpkg -r"; }
  [ "$(readlink "$d/etc/systemd/system/orn312-scheduler.service")" = /dev/null ] ||
    fail "dpkg -r did not mask the unit"
  "${dpkg_root[@]}" -P orn312-tools >>"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log" >&2; fail "dpkg -P"; }
  [ ! -L "$wants" ] || fail "dpkg -P left the wants link"
  left=$(cd "$d" && find etc var/lib/systemd usr lib/ ! -type d 2>/dev/null | sort || true)
  [ -z "$left" ] || fail "dpkg -r and -P left behind: $left"
  echo "package: installed, enabled, removed and purged cleanly"
fi
echo "package: $(cd "$scratch/out" && echo *.deb) checked (lintian: 0 errors, 0 warnings)"
