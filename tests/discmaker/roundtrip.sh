#!/usr/bin/env bash
# The disc maker's round trip, first half: packs a voice-pack tree (nested folders, an empty file, a
# file of several MiB, Chinese names) onto two discs with their ISO images, and reads each image back
# with xorriso: it must hold exactly its disc folder, byte for byte, under its label. The tree and the
# discs stay in OUT for the second half, the install under wine (the UI tests' DiscMakerRoundTrip).
#   roundtrip.sh DISCMAKER SETUP_EXE OUT
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 DISCMAKER SETUP_EXE OUT" >&2
  exit 2
fi
discmaker=$1
setup_exe=$2
out=$3
rm -rf "$out"
mkdir -p "$out/tree" "$out/side"
tree=$out/tree

write() {  # relative path, size in bytes, seed text
  mkdir -p "$(dirname "$tree/$1")"
  yes "$3" | head -c "$2" >"$tree/$1" || true
}
write "語音/艾琳/序章/台詞01.ogg" 40000 "艾琳 序章 01"
write "語音/艾琳/序章/台詞02.ogg" 52000 "艾琳 序章 02"
write "語音/凱爾/第一章/戰鬥/喊聲.ogg" 9000 "凱爾 喊聲"
write "語音/旁白/終章.ogg" 4100000 "旁白 終章, the long one"
write "Voice/Common/greeting.ogg" 3000 "greeting"
write "Voice/Deep/a/b/c/d/e/leaf.ogg" 777 "leaf"
: >"$tree/Voice/Common/silence.ogg"
mkdir -p "$tree/Bin"
write "Bin/voice.cfg" 300 "voice=zh-TW"
printf 'Round trip licence\r\n' >"$out/side/eula.txt"
printf 'den.dat of the round trip' >"$out/side/den.dat"
printf '[Launch]\r\nVoice=1\r\n' >"$out/side/launch.ini"

# A small capacity spreads the files over both discs and all six volumes.
"$discmaker" pack --tree "$tree" --setup "$setup_exe" --eula "$out/side/eula.txt" --den "$out/side/den.dat" \
  --launch "$out/side/launch.ini" --out "$out/discs" --capacity 6M --quiet >/dev/null

status=0
for disc in 1 2; do
  image=$out/discs/disc$disc.iso
  rm -rf "$out/read$disc"
  xorriso -osirrox on -indev "$image" -extract / "$out/read$disc" >/dev/null 2>&1 || {
    echo "xorriso cannot read $image back"
    status=1
    continue
  }
  chmod -R u+w "$out/read$disc"
  if ! diff -r "$out/discs/disc$disc" "$out/read$disc" >/dev/null; then
    echo "disc$disc.iso does not hold disc$disc/ exactly:"
    diff -r "$out/discs/disc$disc" "$out/read$disc" | head -10
    status=1
  fi
  label=$(xorriso -indev "$image" -pvd_info 2>/dev/null | sed -n 's/^Volume Id *: *//p' | tr -d "'")
  if [ "$label" != "VEYLORAN_DISC$disc" ]; then
    echo "disc$disc.iso is labelled '$label'"
    status=1
  fi
done
for disc in 1 2; do
  echo "disc$disc: $(cd "$out/discs/disc$disc" && ls | tr '\n' ' ')"
done
[ $status -eq 0 ] && echo "both images read back by xorriso hold their disc folders, byte for byte"
exit $status
