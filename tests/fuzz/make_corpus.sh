#!/usr/bin/env bash
# Remakes the seed corpora of the fuzz targets with real tools: mkfs.fat
# and mtools, mkntfs and the repository's NTFS fixture tool, sfdisk,
# ImageMagick, sox and zip. Images are cut after their last non-zero byte
# (the targets pad them back to the size their boot sector claims), so
# every seed is a few KiB.
#   tests/fuzz/make_corpus.sh NTFS_FIXTURE
# NTFS_FIXTURE is the built fixture tool (build/default/tests/fixtures/ntfs-fixture).
set -euo pipefail
fixture=$(realpath "${1:?give the path of the built ntfs-fixture tool}")
cd "$(dirname "$0")"
export MTOOLS_SKIP_CHECK=1 LANG=C.UTF-8 SOURCE_DATE_EPOCH=1700000000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Cuts a file after its last non-zero byte (keeping at least one sector).
trim() {
  python3 - "$1" <<'PY'
import sys
p = sys.argv[1]
b = open(p, 'rb').read()
end = len(b.rstrip(b'\0'))
end = max(512, (end + 511) // 512 * 512)
open(p, 'wb').write(b[:end])
PY
}

# Keeps the sectors of an image that are not all zero, as long as the
# total stays small: everything up to `keep` bytes, then nothing. Used for
# NTFS, whose MFT mirror and backup boot sector lie far apart.
cut() { truncate -s "$2" "$1"; }

printf 'hello, fuzzer\n' > "$work/a.txt"
head -c 900 /dev/urandom | base64 > "$work/b.txt"
convert -size 8x8 xc:red "$work/p.gif"

rm -rf corpus && mkdir -p corpus/fat corpus/ntfs corpus/partition corpus/lost corpus/signature

# FAT12 and FAT16 volumes with folders, long names and deleted entries.
for geometry in "12 256 -s 1" "16 4200 -s 1"; do
  set -- $geometry
  img="$work/fat$1.img"
  rm -f "$img"
  mkfs.fat -F "$1" -n "FUZZ$1" -i 1234ABCD "$3" "$4" -C "$img" "$2" >/dev/null
  mmd -i "$img" ::/DCIM ::/DCIM/100CANON "::/My Documents"
  mcopy -i "$img" "$work/a.txt" "::/My Documents/A long file name.txt"
  mcopy -i "$img" "$work/b.txt" ::/DCIM/100CANON/B.TXT
  mcopy -i "$img" "$work/p.gif" ::/DCIM/PIC.GIF
  mcopy -i "$img" "$work/a.txt" ::/GONE.TXT
  mdel -i "$img" ::/GONE.TXT
  mdel -i "$img" ::/DCIM/100CANON/B.TXT
  trim "$img"
  cp "$img" "corpus/fat/fat$1.img"
done

# NTFS: a small volume with a folder, a resident and a non-resident file,
# a compressed one, one spread over an attribute list, and a deleted one.
img="$work/ntfs.img"
truncate -s 2M "$img"
mkntfs -F -Q -q -T -c 512 -s 512 -p 0 -H 0 -S 0 -L FUZZ "$img"
"$fixture" "$img" <<SCRIPT
mkdir /dir
text /dir/small.txt "resident data"
put /dir/big.txt $work/b.txt
nonresident /dir/big.txt
putcompressed /dir/packed.txt $work/b.txt
text /dir/listed.txt "listed"
attrlist /dir/listed.txt filename data
text /dir/gone.txt "deleted"
delete /dir/gone.txt
SCRIPT
cp "$img" corpus/ntfs/ntfs-full.img
trim corpus/ntfs/ntfs-full.img
# Most of the volume is empty; the MFT and the data sit near its middle.
python3 - "$img" corpus/ntfs/ntfs.img <<'PY'
import sys
src, dst = sys.argv[1], sys.argv[2]
b = bytearray(open(src, 'rb').read())
# Keep the boot sector and the stretch holding the MFT and file data:
# zero everything else, then cut after the last non-zero byte.
keep = bytearray(len(b))
mft = int.from_bytes(b[48:56], 'little') * b[13] * 512
keep[0:512] = b[0:512]
keep[mft:mft + 96 * 1024] = b[mft:mft + 96 * 1024]
end = len(bytes(keep).rstrip(b'\0'))
open(dst, 'wb').write(bytes(keep[:(end + 511) // 512 * 512]))
PY
rm corpus/ntfs/ntfs-full.img

# Partition tables: MBR with an extended partition, and GPT, holding FAT12.
img="$work/mbr.img"
rm -f "$img"; truncate -s 4M "$img"
printf 'label: dos\nstart=8, size=200, type=1\nstart=220, size=200, type=5\nstart=228, size=180, type=1\n' | sfdisk -q "$img"
mkfs.fat -F 12 --offset 8 -n FIRST "$img" 100 >/dev/null
mkfs.fat -F 12 --offset 228 -n LOGICAL "$img" 90 >/dev/null
trim "$img"; cp "$img" corpus/partition/mbr.img
img="$work/gpt.img"
rm -f "$img"; truncate -s 4M "$img"
printf 'label: gpt\nstart=40, size=200, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n' | sfdisk -q "$img"
mkfs.fat -F 12 --offset 40 -n GPTFAT "$img" 100 >/dev/null
# The backup table at the end of the disk goes, or the seed would be the
# whole disk; the primary one is whole.
dd if=/dev/zero of="$img" bs=512 seek=$((8192 - 33)) count=33 conv=notrunc status=none
trim "$img"; cp "$img" corpus/partition/gpt.img

# Lost volumes: a disk without a table, FAT12 at sector 63 and an NTFS
# boot sector further on.
img="$work/lost.img"
rm -f "$img"; truncate -s 1M "$img"
mkfs.fat -F 12 --offset 63 -h 63 -n LOSTFAT "$img" 64 >/dev/null
dd if="$work/ntfs.img" of="$img" bs=512 seek=200 count=1 conv=notrunc status=none
trim "$img"; cp "$img" corpus/lost/lost.img

# Signatures: one byte for the cluster size, then a file of each kind.
sig() { { printf '\000'; cat "$2"; } > "corpus/signature/$1"; }
convert -size 16x12 plasma: -quality 60 "$work/s.jpg"; sig jpg "$work/s.jpg"
convert -size 16x12 plasma: "$work/s.gif"; sig gif "$work/s.gif"
convert -size 16x12 plasma: "$work/s.pcx"; sig pcx "$work/s.pcx"
convert -size 16x12 plasma: -colors 16 -type Palette "$work/p.pcx"; sig pcx-palette "$work/p.pcx"
convert -size 16x12 plasma: "$work/s.png"; sig png "$work/s.png"
convert -size 8x8 plasma: "$work/s.bmp"; sig bmp "$work/s.bmp"
convert -size 8x8 plasma: "$work/s.tga"; sig tga "$work/s.tga"
sox -n -r 8000 -c 1 "$work/s.wav" trim 0 0.05; sig wav "$work/s.wav"
(cd "$work" && zip -q s.zip a.txt); sig zip "$work/s.zip"
printf '<html><body>x</body></html>' > "$work/s.htm"; sig htm "$work/s.htm"
du -cb corpus/*/* | tail -1
