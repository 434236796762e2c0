#!/usr/bin/env bash
# The program's main job end to end: builds Setup.exe and the disc maker, makes a sample voice pack and
# its two discs, and installs it with the wizard under wine from a CD-ROM drive D:, changing the disc
# when the wizard asks for the second one. With a display ($DISPLAY) the user clicks through the
# wizard; without one (or with --auto) it runs on a virtual display, driven page by page, and every
# page is saved as a picture. At the end the install folder is checked against the sample tree.
#   bash scripts/demo.sh [--auto]
# Everything goes to build/demo: the builds, the sample, the discs, the wine prefix and the pictures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/demo
auto=0
case "${1:-}" in
  --auto) auto=1 ;;
  "") ;;
  *) echo "usage: bash scripts/demo.sh [--auto]" >&2; exit 2 ;;
esac
[ -n "${DISPLAY:-}" ] || auto=1
jobs=$(nproc)

say() { printf '[demo] %s\n' "$*"; }
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

say "checking the machine's packages"
bash "$root/scripts/setup-machine.sh"

say "building Setup.exe (x86_64) and the demo driver"
cmake -S "$root" -B "$build/win64" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$build/win64" --target Setup demo_driver -j "$jobs" >/dev/null
say "building the disc maker"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native" --target discmaker -j "$jobs" >/dev/null
setup_exe=$build/win64/wizard/Setup.exe
driver=$build/win64/tests/demo/demo_driver.exe
discmaker=$build/native/tools/discmaker/discmaker

# The sample voice pack: the same tree, byte for byte, on every run. 300 voice lines of 4 to 40 KiB
# in 20 folders (five speakers, four chapters), some interface sounds and the game's Bin files.
tree=$build/sample/tree
medium=$build/sample/medium
say "making the sample voice pack in $tree"
rm -rf "$build/sample"
mkdir -p "$tree" "$medium"
write_file() {  # relative path, size, seed text
  mkdir -p "$(dirname "$tree/$1")"
  yes "$3" | head -c "$2" >"$tree/$1" || true
}
n=0
for speaker in 艾琳 凱爾 莉雅 老頭目 旁白; do
  for chapter in 序章 第一章 第二章 終章; do
    for line in $(seq -w 1 15); do
      n=$((n + 1))
      write_file "語音/$speaker/$chapter/台詞$line.ogg" $((4096 + (n * 7919) % 36864)) "$speaker $chapter $line"
    done
  done
done
for sound in 確認 取消 翻頁 存檔 讀檔 警告; do
  n=$((n + 1))
  write_file "音效/介面/$sound.wav" $((2048 + (n * 4099) % 16384)) "sound $sound"
done
write_file "Bin/voice.cfg" 512 "voice=zh-TW"
write_file "Bin/install.html" 1024 "<p>Veyloran voice pack</p>"

# The license, in Big5 with CRLF line ends as a Windows edit control wants them.
iconv -f UTF-8 -t BIG5 >"$medium/eula.txt" <<'EOF'
Veyloran語音包 最終使用者授權合約
 
請在安裝前仔細閱讀本合約。安裝、複製或使用本軟體，即表示您同意本合約的全部條款。
 
一、本軟體的著作權屬於Tarnwick所有，受著作權法及國際條約保護。
二、您可以在您擁有的電腦上安裝並使用本軟體，但不得出租、出售或散布本軟體。
三、您不得對本軟體進行反向工程、反編譯或拆解。
四、本軟體依「現狀」提供，Tarnwick不對任何直接或間接損害負責。
 
若您不同意本合約，請按「取消」結束安裝。
EOF
sed -i 's/$/\r/' "$medium/eula.txt"
printf 'DEN\001\002\003\004voice-pack-1.3.7\000' >"$medium/den.dat"
printf '[Launch]\r\nVoice=1\r\nLanguage=zh-TW\r\n' >"$medium/launch.ini"

discs=$build/discs
say "packing the two discs into $discs"
rm -rf "$discs"
"$discmaker" pack --tree "$tree" --setup "$setup_exe" --eula "$medium/eula.txt" --den "$medium/den.dat" \
  --launch "$medium/launch.ini" --out "$discs" --no-iso --quiet

# A throw-away prefix, made anew each run and kept afterwards, so the installed files can be looked at.
. "$root/scripts/wine-env.sh"
export WINEPREFIX=$build/prefix
rm -rf "$WINEPREFIX"
restore_discs() {
  # Back to disc1 and disc2, whichever disc the drive held last.
  if [ -d "$discs/current" ]; then
    if [ -d "$discs/disc1" ]; then mv "$discs/current" "$discs/disc2"; else mv "$discs/current" "$discs/disc1"; fi
  fi
}
trap 'wine_stop; restore_discs' EXIT
trap 'exit 130' INT TERM
if [ $auto -eq 1 ]; then
  say "making the wine prefix on a virtual display"
  wine_start --xvfb
else
  say "making the wine prefix; the wizard will show on $DISPLAY"
  wine_start --display
fi
mv "$discs/disc1" "$discs/current"
ln -sfn "$discs/current" "$WINEPREFIX/dosdevices/d:"
wine_run reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1
wineserver -w

pictures=$build/screenshots
rm -rf "$pictures"
mkdir -p "$pictures"
# Wine's own messages, and those of the browser that the finish page opens, go to a log of their own.
status=0
if [ $auto -eq 1 ]; then
  say "running D:\\Setup.exe from disc 1, driven page by page"
  wine_run "$driver" auto 'D:\Setup.exe' "$(winpath "$discs")" "$(winpath "$pictures")" 2>"$build/wine.log" | tr -d '\r' |
    grep -v '^picture ' | sed 's/^/[wizard] /' || status=$?
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
else
  say "running D:\\Setup.exe from disc 1"
  wine_run "$driver" watch 'D:\Setup.exe' "$(winpath "$discs")" 2>"$build/wine.log" | tr -d '\r' |
    sed 's/^/[wizard] /' ||
    status=$?
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
fi
wineserver -w 2>/dev/null || true
restore_discs

shots=()
for bmp in "$pictures"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  shots+=("${bmp%.bmp}.png")
done

# The check: every file of the tree, and the two side files in Bin, byte for byte; nothing else.
install=$WINEPREFIX/drive_c/Program\ Files/Tarnwick/Veyloran
problems=0
if [ ! -d "$install" ]; then
  say "no install folder at $install: the installation did not happen"
  problems=1
else
  expected=$( (cd "$tree" && find . -type f; printf './Bin/den.dat\n./Bin/launch.ini\n') | LC_ALL=C sort)
  found=$(cd "$install" && find . -type f | LC_ALL=C sort)
  if [ "$expected" != "$found" ]; then
    say "the install folder's files differ from the sample's:"
    diff <(echo "$expected") <(echo "$found") | grep '^[<>]' | head -20 | sed 's/^/[demo]   /'
    problems=1
  fi
  while IFS= read -r file; do
    case "$file" in
      ./Bin/den.dat) source=$medium/den.dat ;;
      ./Bin/launch.ini) source=$medium/launch.ini ;;
      *) source=$tree/$file ;;
    esac
    if [ -f "$install/$file" ] && ! cmp -s "$source" "$install/$file"; then
      say "differs from the sample: $file"
      problems=1
    fi
  done <<<"$expected"
  "$discmaker" verify --tree "$tree" --out "$discs" --quiet >/dev/null 2>"$build/verify.log" || {
    cat "$build/verify.log"
    problems=1
  }
fi

echo
if [ ${#shots[@]} -gt 0 ]; then
  say "pictures of the pages:"
  printf '         %s\n' "${shots[@]}"
fi
if [ $status -eq 0 ] && [ $problems -eq 0 ]; then
  count=$(find "$install" -type f | wc -l)
  bytes=$(find "$install" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  say "installed $count files, $bytes bytes, into C:\\Program Files\\Tarnwick\\Veyloran\\"
  say "  (on this machine: $install)"
  say "the install folder matches the sample pack and its side files; both discs verify"
  exit 0
fi
say "the demo FAILED: see the messages above and wine's own in $build/wine.log"
exit 1
