#!/usr/bin/env bash
# The Debian package: made from this build into a scratch folder, its files checked, unpacked into
# a scratch root and its programs run from there. Skipped (77) without the packaging tools.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in dpkg-deb dpkg-shlibdeps cpack groff; do
  command -v "$tool" >/dev/null || { echo "package: no $tool, skipped"; exit 77; }
done

scratch=$(mktemp -d)
sim=""
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(echo "$scratch"/out/orn312_*.deb)
[ -f "$deb" ] || fail "no package made"

expected="./usr/bin/orn312-control
./usr/bin/orn312-scheduler
./usr/bin/orn312-sim
./usr/bin/orn312ctl
./usr/lib/systemd/system/orn312-scheduler.service
./usr/share/applications/orn312-control.desktop
./usr/share/doc/orn312/README.md
./usr/share/icons/hicolor/scalable/apps/orn312-control.svg
./usr/share/man/man1/orn312-scheduler.1.gz
./usr/share/man/man1/orn312-sim.1.gz
./usr/share/man/man1/orn312ctl.1.gz"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = "$expected" ] || fail "files differ from the expected list:
$(diff <(echo "$expected") <(echo "$files"))"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ && $6 ~ /usr\/bin\// && $1 != "-rwxr-xr-x" {exit 1}' ||
  fail "a program is not executable"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libqt6svg6 fonts-noto-cjk; do
  [[ "$depends" == *"$d"* ]] || fail "Depends lacks $d: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = orn312 ] || fail "package name"

root="$scratch/root"
dpkg -x "$deb" "$root"
bin="$root/usr/bin"

# Every library the programs need is found; only the window loads Qt.
for p in orn312-control orn312ctl orn312-sim orn312-scheduler; do
  ! ldd "$bin/$p" | grep -q "not found" || fail "$p misses a library: $(ldd "$bin/$p")"
done
for p in orn312ctl orn312-sim orn312-scheduler; do
  ! ldd "$bin/$p" | grep -q libQt || fail "$p links Qt"
  "$bin/$p" --help | grep -q "^usage: $p" || fail "$p --help"
done

# The simulator and the client of the package talk to each other.
"$bin/orn312-sim" --tcp 0 >"$scratch/sim.out" </dev/null &
sim=$!
for _ in $(seq 50); do
  port=$(sed -n 's/^tcp 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$scratch/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || fail "the simulator did not start"
"$bin/orn312ctl" --tcp "127.0.0.1:$port" identify | grep -q "identified" || fail "identify"

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
grep -qx "Type=Application" "$entry" || fail "desktop entry Type"
grep -q "<svg" "$root/usr/share/icons/hicolor/scalable/apps/orn312-control.svg" || fail "icon"

# The unit runs the packaged scheduler.
unit="$root/usr/lib/systemd/system/orn312-scheduler.service"
grep -qx "ExecStart=/usr/bin/orn312-scheduler /var/lib/orn312/Planinfo.ini" "$unit" ||
  fail "unit ExecStart"
echo "package: $(basename "$deb") checked"
