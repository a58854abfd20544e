#!/usr/bin/env bash
# Shows one recovery from start to end in the simulated recorder, with no further input.
# Usage: scripts/demo.sh BUILD_DIR   (BUILD_DIR holds tapsim and quarrow.so)
set -euo pipefail

build=$(cd "${1:-build/native}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
tapsim=$(find "$build" -name tapsim -type f -perm -u+x | head -n1)
module=$(find "$build" -name quarrow.so -type f | head -n1)
[ -n "$tapsim" ] || { echo "demo: tapsim not found under $build" >&2; exit 1; }
[ -n "$module" ] || { echo "demo: quarrow.so not found under $build" >&2; exit 1; }

demo=$build/demo
disk=$demo/disk
rm -rf "$demo"
mkdir -p "$demo/originals"

# Names on the disk are ISO 8859-1, as on the recorder; shown in the terminal's encoding.
show() { printf '%s' "$1" | iconv -f ISO-8859-1 -t UTF-8 2>/dev/null || printf '%s' "$1"; }
step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "1. A sample disk under $disk"
c++ -std=c++20 -O2 -o "$demo/demo_disk" "$here/demo_disk.cpp"
"$demo/demo_disk" "$disk"
echo "$(find "$disk/DataFiles" -type f | wc -l) files, $(du -sh "$disk/DataFiles" | cut -f1) in all"

step "2. First start after power-on (uptime 35 s): the scan at tick 12001 fills Quarrow.db"
"$tapsim" --disk "$disk" --uptime 35.27 --until 12100 --clock "2026-12-07 20:15:00" \
  --console "$demo/console-1.txt" "$module"
echo "Quarrow.db: $(stat -c %s "$disk/ProgramFiles/Settings/Zorvane/Quarrow.db") bytes," \
  "$(grep -c "added '" "$disk/ProgramFiles/Settings/Zorvane/Quarrow.log") recordings fingerprinted"

step "3. The file-system check orphans a third of the recordings into /Quarrow as #<inode>"
mkdir -p "$disk/Quarrow"
: > "$demo/orphans.txt"
n=0
while IFS= read -r -d '' rec; do
  n=$((n + 1))
  [ $((n % 3)) -eq 1 ] || continue
  for f in "$rec" "$rec.inf" "$rec.nav"; do
    [ -e "$f" ] || continue
    ino=$(stat -c %i "$f")
    cp -p "$f" "$demo/originals/#$ino"
    mv "$f" "$disk/Quarrow/#$ino"   # a rename keeps the inode
    printf '#%s\t%s\n' "$ino" "${f#"$disk"}" >> "$demo/orphans.txt"
  done
done < <(find "$disk/DataFiles" -type f \( -name '*.rec' -o -name '*.mpg' \) -print0 | sort -z)
printf 'a file that was never a recording\n' > "$disk/Quarrow/unrelated"
ino=$(stat -c %i "$disk/Quarrow/unrelated")
mv "$disk/Quarrow/unrelated" "$disk/Quarrow/#$ino"
cp "$disk/Quarrow/#$ino" "$demo/originals/#$ino"
printf '#%s\t(unrelated file)\n' "$ino" >> "$demo/orphans.txt"
echo "$(ls "$disk/Quarrow" | wc -l) entries in /Quarrow:"
ls "$disk/Quarrow" | tr '\n' ' '; echo

step "4. Next start: intake at tick 101, the box is shown, OK (0x1001E) at tick 400"
shot=$demo/messagebox.png
"$tapsim" --disk "$disk" --uptime 600 --until 500 --clock "2026-12-07 21:40:00" \
  --screenshot "$shot@150" --key 0x1001E@400 --screenshot "$demo/after-ok.png@450" \
  --console "$demo/console-2.txt" "$module"

step "5. What came back"
zor=$disk/DataFiles/Zorvane
# Pads to a width in characters, whatever the terminal's encoding makes of the bytes.
pad() { local text=$1 width=$2; printf '%s%*s' "$text" $((width - $(printf '%s' "$text" | iconv -f UTF-8 -t UTF-32LE 2>/dev/null | wc -c) / 4)) ''; }
printf '%-12s  %s  %s\n' "in /Quarrow" "$(pad "name given back" 45)" "content"
all_ok=1
while IFS=$'\t' read -r hash original; do
  ino=${hash#\#}
  back=$(find "$zor" -maxdepth 1 -inum "$ino" -printf '%f\n' | head -n1)
  if [ -z "$back" ]; then shown="(not found)"; same="-"; all_ok=0
  else
    shown=$(show "$back")
    [ "$back" = "$hash" ] && shown="(kept its name: unknown file)"
    if cmp -s "$zor/$back" "$demo/originals/$hash"; then same="identical"; else same="DIFFERENT"; all_ok=0; fi
  fi
  printf '%-12s  %s  %s\n' "$hash" "$(pad "$shown" 45)" "$same"
done < "$demo/orphans.txt"
[ $all_ok -eq 1 ] && echo "All files byte-identical to before." || echo "Some files differ or are missing!"

step "The module's log ($disk/ProgramFiles/Settings/Zorvane/Quarrow.log)"
show "$(tr -d '\r' < "$disk/ProgramFiles/Settings/Zorvane/Quarrow.log")"; echo
echo "Settings: $(tr -d '\r' < "$disk/ProgramFiles/Settings/Zorvane/Quarrow.ini" | tr '\n' ' ')"

step "Screenshot of the message box"
echo "$shot"
echo "(after OK: $demo/after-ok.png)"
[ $all_ok -eq 1 ]
