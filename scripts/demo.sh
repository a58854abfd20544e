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
# Bold headings only on a terminal: a log file or a pipe gets plain text.
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold='' plain=''; fi
step() { printf '\n%s== %s%s\n' "$bold" "$*" "$plain"; }

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

# ---- quarrow-db: the owner's PC tool plans the recovery on this disk, changing nothing.
# Runs once the build has it; its plan is shown beside the outcome in step 5.
quarrow_db=$build/tools/quarrow-db/quarrow-db
plan=
if [ -x "$quarrow_db" ]; then
  plan=$demo/quarrow-db-plan.txt
  step "quarrow-db plan --disk $disk (before the module runs)"
  status=0
  "$quarrow_db" plan --disk "$disk" >"$plan" 2>&1 || status=$?
  [ $status -eq 0 ] || echo "(quarrow-db exited with status $status)" >>"$plan"
  show "$(cat "$plan")"; echo
  echo "(the plan's names stand beside the outcome in step 5)"
fi
# The planned name of each file in /Quarrow, from the plan's table (the names are the
# disk's bytes; "(unknown)": it keeps its name).
planned_for() {
  [ -n "$plan" ] || return 0
  LC_ALL=C sed -nE 's/^Quarrow +(#[0-9]+) +(.*[^ ]) +(recording|inf|nav|-)( .*)?$/\1\t\2/p' "$plan" |
    LC_ALL=C awk -F'\t' -v f="$1" '$1 == f { print ($2 == "(unknown)" ? f : $2); exit }'
}
# ---- end of quarrow-db

step "4. Next start: intake at tick 101, the box is shown, OK (0x1001E) at tick 400"
shot=$demo/messagebox.png
"$tapsim" --disk "$disk" --uptime 600 --until 500 --clock "2026-12-07 21:40:00" \
  --screenshot "$shot@150" --key 0x1001E@400 --screenshot "$demo/after-ok.png@450" \
  --console "$demo/console-2.txt" "$module"

step "5. What came back"
zor=$disk/DataFiles/Zorvane
# Width in characters, whatever the terminal's encoding makes of the bytes.
width() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-32LE 2>/dev/null | wc -c | awk '{ print int($1 / 4) }'; }
pad() { printf '%s%*s' "$1" $(($2 - $(width "$1"))) ''; }
rows_hash=() rows_back=() rows_before=() rows_match=() rows_planned=()
bad=0 unplanned=0
while IFS=$'\t' read -r hash original; do
  ino=${hash#\#}
  back=$(find "$zor" -maxdepth 1 -inum "$ino" -printf '%f\n' | head -n1)
  if [ "$original" = "(unrelated file)" ]; then
    want=$hash before="(never a recording: keeps its name)"
  else
    want=${original##*/} before=$(show "$original")
  fi
  if [ -z "$back" ]; then
    shown="(not found)" match="no: missing"
  else
    shown=$(show "$back")
    wrong=()
    [ "$back" = "$want" ] || wrong+=(name)
    cmp -s "$zor/$back" "$demo/originals/$hash" || wrong+=(content)
    if [ ${#wrong[@]} -eq 0 ]; then match=yes; else match="no: ${wrong[0]}${wrong[1]:+, ${wrong[1]}}"; fi
  fi
  [ "$match" = yes ] || bad=$((bad + 1))
  planned=$(planned_for "$hash")
  if [ -n "$plan" ]; then
    if [ "$planned" = "$back" ]; then
      planned_shown="the same"
    else
      planned_shown="${planned:-(nothing)}: differs" unplanned=$((unplanned + 1))
    fi
  fi
  rows_hash+=("$hash") rows_back+=("$shown") rows_before+=("$before") rows_match+=("$match") rows_planned+=("${planned_shown:-}")
done < "$demo/orphans.txt"
w_hash=11 w_back=10 w_before=16
for i in "${!rows_hash[@]}"; do
  [ ${#rows_hash[$i]} -le $w_hash ] || w_hash=${#rows_hash[$i]}
  w=$(width "${rows_back[$i]}"); [ "$w" -le "$w_back" ] || w_back=$w
  w=$(width "${rows_before[$i]}"); [ "$w" -le "$w_before" ] || w_before=$w
done
printf '%-*s  %s  %s  %-22s  %s\n' "$w_hash" "in /Quarrow" "$(pad "given back" "$w_back")" \
  "$(pad "before the check" "$w_before")" "name and content match" "${plan:+quarrow-db planned}"
for i in "${!rows_hash[@]}"; do
  printf '%-*s  %s  %s  %-22s  %s\n' "$w_hash" "${rows_hash[$i]}" "$(pad "${rows_back[$i]}" "$w_back")" \
    "$(pad "${rows_before[$i]}" "$w_before")" "${rows_match[$i]}" "$(show "${rows_planned[$i]}")"
done
if [ $bad -eq 0 ]; then
  echo "All ${#rows_hash[@]} files from /Quarrow have their names and contents back."
else
  echo "$bad of ${#rows_hash[@]} files from /Quarrow did not come back as they were!"
fi
if [ -n "$plan" ]; then
  if [ $unplanned -eq 0 ]; then
    echo "quarrow-db planned every one of these names before the module ran ($plan)."
  else
    echo "quarrow-db's plan differs from the outcome for $unplanned files ($plan)!"
    bad=$((bad + unplanned))
  fi
fi

step "The module's log ($disk/ProgramFiles/Settings/Zorvane/Quarrow.log)"
show "$(tr -d '\r' < "$disk/ProgramFiles/Settings/Zorvane/Quarrow.log")"; echo
echo "Settings: $(tr -d '\r' < "$disk/ProgramFiles/Settings/Zorvane/Quarrow.ini" | tr '\n' ' ')"

step "Screenshot of the message box"
echo "$shot"
echo "(after OK: $demo/after-ok.png)"
[ $bad -eq 0 ]
