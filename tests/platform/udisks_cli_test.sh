#!/usr/bin/env bash
# relictor-cli as an ordinary user on a card it may only read through the
# disk service: a FAT32 loop device that only root may open, the real
# udisksd, and a polkit stand-in that allows or refuses.
#   udisks_cli_test.sh RELICTOR_CLI
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$1
. "$here/desktop_bus.sh"
desktop_bus_start --udisks || exit $?

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# expect NAME STATUS WANTED_STATUS HAYSTACK NEEDLE
expect() {
  if [ "$2" != "$3" ]; then fail "$1: exit status $2, wanted $3; output: $4"; return; fi
  case "$4" in *"$5"*) ;; *) fail "$1: no '$5' in: $4" ;; esac
}

export MTOOLS_SKIP_CHECK=1
img=$DESKTOP_BUS_DIR/card.img
truncate -s 40M "$img"
mkfs.fat -F 32 -s 1 -n CARD "$img" >/dev/null 2>&1 || { echo "mkfs.fat failed" >&2; exit 1; }
head -c 70000 /dev/urandom >"$DESKTOP_BUS_DIR/holiday.jpg"
mcopy -i "$img" "$DESKTOP_BUS_DIR/holiday.jpg" ::/HOLIDAY.JPG
mdel -i "$img" ::/HOLIDAY.JPG

dev=$(desktop_bus_attach "$img") || exit $?
desktop_bus_wait_fs "$dev" vfat || { echo "the disk service never saw the FAT volume on $dev" >&2; exit 1; }
if as_user dd if="$dev" of=/dev/null bs=512 count=1 status=none 2>/dev/null; then
  echo "nobody may read $dev directly: the test would prove nothing" >&2
  exit 1
fi

out=$(as_user "$cli" drives --json 2>&1)
expect "drives lists the card" $? 0 "$out" "\"source\": \"$dev\""
expect "drives names the card by its label" 0 0 "$out" '"label": "CARD"'
expect "drives gives the card's size" 0 0 "$out" "\"size\": $((40 << 20))"

out=$(as_user "$cli" ls "$dev" 2>&1)
expect "ls shows the deleted file" $? 0 "$out" "_OLIDAY.JPG"
as_user "$cli" cat "$dev" /_OLIDAY.JPG >"$DESKTOP_BUS_DIR/back.jpg" 2>"$DESKTOP_BUS_DIR/cat.err"
if ! cmp -s "$DESKTOP_BUS_DIR/holiday.jpg" "$DESKTOP_BUS_DIR/back.jpg"; then
  fail "cat of the deleted file gave other bytes: $(cat "$DESKTOP_BUS_DIR/cat.err")"
fi

mkdir -m 777 "$DESKTOP_BUS_DIR/out"
out=$(as_user "$cli" recover "$dev" /_OLIDAY.JPG -o "$DESKTOP_BUS_DIR/out" 2>&1)
expect "recover" $? 0 "$out" ""
cmp -s "$DESKTOP_BUS_DIR/holiday.jpg" "$DESKTOP_BUS_DIR/out/_OLIDAY.JPG" || fail "recover saved other bytes: $out"
out=$(as_user "$cli" scan "$dev" --json 2>&1)
expect "scan" $? 0 "$out" "["
out=$(as_user "$cli" lost "$dev" --end 64 2>&1)
expect "lost" $? 0 "$out" "FAT32"

desktop_bus_policy deny
out=$(as_user "$cli" ls "$dev" 2>&1)
status=$?
expect "a refusing policy" $status 1 "$out" "not allowed to read $dev (the system's policy refused it)"
[ "$(printf '%s\n' "$out" | wc -l)" = 1 ] || fail "a refusal takes one sentence, not: $out"
out=$(as_user "$cli" drives 2>&1)
expect "drives with a refusing policy" $? 1 "$out" "not allowed to read $dev (the system's policy refused it)"

desktop_bus_stop_udisks
out=$(as_user "$cli" ls "$dev" 2>&1)
expect "without the disk service" $? 1 "$out" "$dev: permission denied"

if [ $failures -ne 0 ]; then
  echo "--- udisksd log:" >&2
  tail -20 "$DESKTOP_BUS_DIR/udisksd.log" >&2
  exit 1
fi
echo "all passed"
