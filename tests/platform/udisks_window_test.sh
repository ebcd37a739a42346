#!/usr/bin/env bash
# The window as an ordinary user on the real disk service: one card there at
# the start, one partition added to a loop device while the window is open
# and then taken away again.
#   udisks_window_test.sh WINDOW_TEST_PROGRAM
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1
. "$here/desktop_bus.sh"
desktop_bus_start --udisks || exit $?
command -v partx >/dev/null || { echo "skipped: partx is not installed" >&2; exit 77; }

w=$DESKTOP_BUS_DIR
truncate -s 40M "$w/first.img"
mkfs.fat -F 32 -s 1 -n FIRST "$w/first.img" >/dev/null 2>&1 || exit 1
truncate -s 40M "$w/disk.img"
printf 'label: dos\nstart=2048, type=c\n' | sfdisk -q "$w/disk.img" || exit 1
mkfs.fat -F 32 -s 1 -n NEWCARD --offset 2048 "$w/disk.img" $(((40 << 10) - 1024)) >/dev/null 2>&1 || exit 1

first=$(desktop_bus_attach "$w/first.img") || exit $?
desktop_bus_wait_fs "$first" vfat || { echo "the disk service never saw $first" >&2; exit 1; }
# Attached without reading its partition table: the partition comes later.
disk=$(desktop_bus_attach "$w/disk.img") || exit $?

mkdir -m 777 "$w/sync"
as_user env RELICTOR_SYNC_DIR="$w/sync" "$program" cardsComeAndGo &
pid=$!
waitfor() {
  local end=$((SECONDS + 30))
  until [ -e "$w/sync/$1" ]; do
    kill -0 $pid 2>/dev/null || return 1
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
}
if waitfor ready; then
  partx -a "$disk"
  # A pulled card: the kernel and udev drop the device while the window
  # still holds it open (partx -d would refuse, the partition being busy).
  waitfor seen && udevadm trigger --action=remove "/sys/class/block/${disk#/dev/}p1"
fi
wait $pid || exit $?

# Loop devices have no drive: a test double of the service gives the first
# card one, with a hostile model name.
desktop_bus_stop_udisks || exit 1
read -r major minor < <(stat -c '%t %T' "$first")
"$DESKTOP_BUS_PY" -m dbusmock --system --template "$here/udisks2_template.py" -p "{\"device\": \"$first\",
  \"device_number\": $(((0x$major << 8) | 0x$minor)), \"image\": \"$w/first.img\", \"vendor\": \"Kardex\",
  \"model\": \"SD\u0007Reader\"}" >"$w/double.log" 2>&1 &
double=$!
_db_pids+=($double)
_db_until 10 _db_name_owned org.freedesktop.UDisks2 || { echo "the test double did not start" >&2; exit 1; }
as_user env RELICTOR_DRIVE_NAME="Kardex SD$(printf '\xEF\xBF\xBD')Reader" "$program" driveModelInTooltip || exit $?

# A card put in whose opening waits four seconds, as while the system asks
# for the user's password: the window stays live meanwhile.
kill "$double" 2>/dev/null
wait "$double" 2>/dev/null
for _ in $(seq 100); do _db_name_owned org.freedesktop.UDisks2 || break; sleep 0.1; done
truncate -s 40M "$w/slow.img"
mkfs.fat -F 32 -s 1 -n SLOWCARD "$w/slow.img" >/dev/null 2>&1 || exit 1
slow=$(desktop_bus_attach "$w/slow.img") || exit $?
"$DESKTOP_BUS_PY" -m dbusmock --system --template "$here/udisks2_template.py" \
  -p "{\"image\": \"$w/slow.img\", \"open_delay\": 4}" >"$w/slow.log" 2>&1 &
_db_pids+=($!)
_db_until 10 _db_name_owned org.freedesktop.UDisks2 || { echo "the test double did not start" >&2; exit 1; }
rm -f "$w/sync/ready"
as_user env RELICTOR_SYNC_DIR="$w/sync" RELICTOR_SLOW_CARD=1 RELICTOR_SLOW_DEVICE="$slow" "$program" slowOpenKeepsWindowLive &
pid=$!
waitfor ready && gdbus call --system --dest org.freedesktop.UDisks2 --object-path /org/freedesktop/UDisks2 \
  --method org.freedesktop.UDisks2.Manager.TestPlug "$slow" SLOWCARD >/dev/null
wait $pid
