#!/usr/bin/env bash
# make bench: the module against the floor (bench/floor.cpp) on generated disks, natively
# (seconds) and on the recorder's CPU under qemu-mipsel (guest instructions, counted by
# bench/icount.c). Usage: bench/run.sh [MODULE.so MODULE.tap]   (default: this build's)
# BENCH_SIZES, BENCH_QEMU_SIZES, BENCH_RECOVERY and BENCH_QEMU_RECOVERY override the sizes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build/bench
mkdir -p "$out"
native=$root/build/native
mips=$root/build/mipsel
module_so=${1:-$native/quarrow.so}
module_tap=${2:-$mips/quarrow.tap}
floor_so=$native/bench/floor.so
floor_tap=$mips/floor.tap
sizes=${BENCH_SIZES-1000 5000 20000 50000}
qsizes=${BENCH_QEMU_SIZES-1000 5000 20000}
recovery=${BENCH_RECOVERY-5000 20000}
qrecovery=${BENCH_QEMU_RECOVERY-5000 20000}
results=$out/results.txt
work=$out/work
c++ -std=c++20 -O2 -o "$out/gen_disk" "$root/bench/gen_disk.cpp"
cc -shared -fPIC -O2 -o "$out/icount.so" "$root/bench/icount.c"

# run NATIVE|QEMU MODULE DISK UNTIL: prints "seconds instructions peak_bytes syncs"
run() {
  local how=$1 mod=$2 disk=$3 until=$4 t0 t1 ins=-
  t0=$(date +%s.%N)
  if [ "$how" = native ]; then
    "$native/sim/tapsim" --disk "$disk" --until "$until" --console /dev/null --clock "2026-12-07 20:00:00" \
      --heap "$out/heap.txt" "$mod" >/dev/null 2>&1
  else
    qemu-mipsel -plugin "$out/icount.so,out=$out/icount.txt" -L "$mips/sysroot" "$mips/sim/tapsim" --disk "$disk" \
      --until "$until" --console /dev/null --clock "2026-12-07 20:00:00" --heap "$out/heap.txt" "$mod" >/dev/null 2>&1
    ins=$(cat "$out/icount.txt")
  fi
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc) $ins $(awk '/^peak_bytes/ {print $2}' "$out/heap.txt")" \
    "$(awk '/^syncs/ {print $2}' "$out/heap.txt")"
}
ratio() { echo "scale=2; $1 / $2" | bc; }

{
echo "== make bench: module $module_so / $module_tap"
echo "first: first scan after a load (empty database); later: the next start, nothing changed"
echo "time: tapsim wall seconds (PC); ins: guest instructions of the mipsel build under qemu-mipsel"
echo "hold: ins / 300e6 s, assuming about one instruction per cycle at 300 MHz"
echo "heap: the module's peak TAP_MemAlloc bytes against the final array (12 + 176 x capacity less the header)"
printf "%-7s %-6s %9s %9s %6s | %13s %13s %6s %7s | %6s\n" n scan module_s floor_s ratio module_ins floor_ins ratio hold_s heap
for n in $sizes; do
  disk=$work/disk-$n
  rm -rf "$disk"; "$out/gen_disk" "$disk" "$n"
  for scan in first later; do
    [ $scan = first ] && rm -rf "$disk/ProgramFiles/Settings"
    read -r ms _ heap _ <<<"$(run native "$module_so" "$disk" 4001)"
    db=$disk/ProgramFiles/Settings/Zorvane/Quarrow.db
    array=$(( $(stat -c %s "$db") - 12 ))
    cp -a "$disk/ProgramFiles/Settings" "$work/settings-$n"
    [ $scan = first ] && rm -rf "$disk/ProgramFiles/Settings"
    read -r fs _ _ _ <<<"$(run native "$floor_so" "$disk" 4001)"
    rm -rf "$disk/ProgramFiles/Settings"; cp -a "$work/settings-$n" "$disk/ProgramFiles/Settings"; rm -rf "$work/settings-$n"
    mi=- fi=- qr=- hold=-
    if [[ " $qsizes " == *" $n "* ]]; then
      cp -a "$disk/ProgramFiles/Settings" "$work/settings-$n"
      [ $scan = first ] && rm -rf "$disk/ProgramFiles/Settings"
      read -r _ mi _ _ <<<"$(run qemu "$module_tap" "$disk" 4001)"
      [ $scan = first ] && rm -rf "$disk/ProgramFiles/Settings"
      read -r _ fi _ _ <<<"$(run qemu "$floor_tap" "$disk" 4001)"
      rm -rf "$disk/ProgramFiles/Settings"; mv "$work/settings-$n" "$disk/ProgramFiles/Settings"
      qr=$(ratio "$mi" "$fi"); hold=$(echo "scale=2; $mi / 300000000" | bc)
    fi
    hr=-; [ $scan = first ] && hr=$(ratio "$heap" "$array")
    printf "%-7s %-6s %9s %9s %6s | %13s %13s %6s %7s | %6s\n" "$n" $scan "$ms" "$fs" "$(ratio "$ms" "$fs")" \
      "$mi" "$fi" "$qr" "$hold" "$hr"
  done
  rm -rf "$disk"
done
echo
echo "disk calls per scan, n recordings with .inf and .nav all directly in /DataFiles (PC tapsim; opens and"
echo "reads: every TAP_Hdd_Fopen and TAP_Hdd_Fread, the database's included): first scan after a load (no"
echo "database), the first scan of a later start, and the next scan of that start (30000 ticks on), nothing changed"
printf "%-7s %-6s %9s %9s %9s\n" n scan lstat64 opens reads
# calls DISK UNTIL: prints "lstat64 opens reads" of one tapsim run
calls() {
  "$native/sim/tapsim" --disk "$1" --until "$2" --console /dev/null --clock "2026-12-07 20:00:00" \
    --calls "$out/calls.txt" "$module_so" >/dev/null 2>&1
  awk '$1 == "lstat64" { l = $2 } $1 == "TAP_Hdd_Fopen" { o = $2 } $1 == "TAP_Hdd_Fread" { r = $2 }
       END { print l, o, r }' "$out/calls.txt"
}
for n in ${BENCH_CALL_SIZES-1000 5000}; do
  disk=$work/cdisk-$n
  rm -rf "$disk"; "$out/gen_disk" flat "$disk" "$n"
  read -r l o r <<<"$(calls "$disk" 4001)"
  printf "%-7s %-6s %9s %9s %9s\n" "$n" first "$l" "$o" "$r"
  read -r l o r <<<"$(calls "$disk" 4001)"
  printf "%-7s %-6s %9s %9s %9s\n" "$n" later "$l" "$o" "$r"
  read -r l2 o2 r2 <<<"$(calls "$disk" 34002)"
  printf "%-7s %-6s %9s %9s %9s\n" "$n" next $((l2 - l)) $((o2 - o)) $((r2 - r))
  rm -rf "$disk"
done
echo
echo "recovery of 10000 files from /Quarrow against a database of n entries (intake and recovery at one start);"
echo "each run on a disk of its own (generated, scanned by the module, then orphaned): a copy would change the inodes"
printf "%-7s %-6s %9s %9s %6s | %13s %13s %6s %7s\n" n work module_s floor_s ratio module_ins floor_ins ratio hold_s
# recovery_disk DISK N: N recordings scanned by the module, then 10,000 files moved to /Quarrow
recovery_disk() {
  rm -rf "$1"; "$out/gen_disk" "$1" "$2"
  run native "$module_so" "$1" 4001 >/dev/null
  "$out/gen_disk" orphan "$1" 10000
}
for n in $recovery; do
  disk=$work/rdisk-$n
  recovery_disk "$disk" "$n"; read -r ms _ _ _ <<<"$(run native "$module_so" "$disk" 200)"
  recovery_disk "$disk" "$n"; read -r fs _ _ _ <<<"$(run native "$floor_so" "$disk" 200)"
  mi=- fi=- qr=- hold=-
  if [[ " $qrecovery " == *" $n "* ]]; then
    recovery_disk "$disk" "$n"; read -r _ mi _ _ <<<"$(run qemu "$module_tap" "$disk" 200)"
    recovery_disk "$disk" "$n"; read -r _ fi _ _ <<<"$(run qemu "$floor_tap" "$disk" 200)"
    qr=$(ratio "$mi" "$fi"); hold=$(echo "scale=2; $mi / 300000000" | bc)
  fi
  printf "%-7s %-6s %9s %9s %6s | %13s %13s %6s %7s\n" "$n" recover "$ms" "$fs" "$(ratio "$ms" "$fs")" \
    "$mi" "$fi" "$qr" "$hold"
  rm -rf "$disk"
done
echo
echo "the folder file (RestoreFolders=1 in Quarrow.ini): its bytes per fingerprint, and the module with the setting"
echo "against itself without it on the same disk: a first start (first scan, both files written) and a refresh (a"
echo "later start whose scan finds one new recording and saves again); Quarrow.db compared between the two"
printf "%-7s %-8s %9s %9s %6s | %13s %13s %6s | %6s %5s %5s\n" n work on_s off_s ratio on_ins off_ins ratio \
  bytes/fp db syncs
# folders_run NATIVE|QEMU MODULE DISK WORK SETTING: a fresh settings folder, then the work; prints what run prints
folders_run() {
  local settings=$3/ProgramFiles/Settings/Zorvane
  rm -rf "$3/ProgramFiles/Settings"; mkdir -p "$settings"
  [ -e "$3/DataFiles/Neu.rec" ] && mv "$3/DataFiles/Neu.rec" "$3/Neu.rec"
  [ -e "$3/Neu.rec" ] || printf 'a new recording, 24 byte' >"$3/Neu.rec"
  printf 'InformUser=0\r\n%b' "$5" >"$settings/Quarrow.ini"
  if [ "$4" = refresh ]; then
    run "$1" "$2" "$3" 4001 >/dev/null
    mv "$3/Neu.rec" "$3/DataFiles/Neu.rec"  # the same file each time: the same fingerprint
  fi
  run "$1" "$2" "$3" 4001
}
for n in $sizes; do
  disk=$work/fdisk-$n
  rm -rf "$disk"; "$out/gen_disk" "$disk" "$n"
  settings=$disk/ProgramFiles/Settings/Zorvane
  for what in first refresh; do
    read -r off_s _ _ _ <<<"$(folders_run native "$module_so" "$disk" $what "")"
    cp "$settings/Quarrow.db" "$work/db-off"
    read -r on_s _ _ on_sy <<<"$(folders_run native "$module_so" "$disk" $what "RestoreFolders=1\r\n")"
    same=no; cmp -s "$settings/Quarrow.db" "$work/db-off" && same=same
    bytes=-; [ $what = first ] && bytes=$(echo "scale=1; $(stat -c %s "$settings/Quarrow.folders") / $n" | bc)
    on_i=- off_i=- qr=-
    if [[ " $qsizes " == *" $n "* ]]; then
      read -r _ off_i _ _ <<<"$(folders_run qemu "$module_tap" "$disk" $what "")"
      read -r _ on_i _ _ <<<"$(folders_run qemu "$module_tap" "$disk" $what "RestoreFolders=1\r\n")"
      qr=$(ratio "$on_i" "$off_i")
    fi
    printf "%-7s %-8s %9s %9s %6s | %13s %13s %6s | %6s %5s %5s\n" "$n" $what "$on_s" "$off_s" \
      "$(ratio "$on_s" "$off_s")" "$on_i" "$off_i" "$qr" "$bytes" $same "$on_sy"
  done
  rm -rf "$disk" "$work/db-off"
done
echo
echo "syncs the module asks for (each a file's data or a folder's names made durable): per database save"
echo "(a first start: Quarrow.ini made, then the first save; a refresh that replaces Quarrow.db) and per recovery"
echo "(intake and recovery at one start: Quarrow.ini, the folder made, the list, the two folders)"
printf "%-24s %6s\n" work syncs
disk=$work/sdisk
rm -rf "$disk"; "$out/gen_disk" "$disk" 1000
read -r _ _ _ sy <<<"$(run native "$module_so" "$disk" 4001)"
printf "%-24s %6s\n" "first start, 1000" "$sy"
head -c 24 /dev/urandom >"$disk/DataFiles/Neu.rec"
read -r _ _ _ sy <<<"$(run native "$module_so" "$disk" 4001)"
printf "%-24s %6s\n" "refresh save, 1000" "$sy"
for files in 100 1000; do
  rm -rf "$disk"; "$out/gen_disk" "$disk" 1000
  run native "$module_so" "$disk" 4001 >/dev/null
  "$out/gen_disk" orphan "$disk" "$files"
  read -r _ _ _ sy <<<"$(run native "$module_so" "$disk" 200)"
  printf "%-24s %6s\n" "recovery of $files" "$sy"
done
# With RestoreFolders=1 each folder that takes files back is synced once more.
rm -rf "$disk"; "$out/gen_disk" "$disk" 1000
mkdir -p "$disk/ProgramFiles/Settings/Zorvane"
printf 'InformUser=0\r\nRestoreFolders=1\r\n' >"$disk/ProgramFiles/Settings/Zorvane/Quarrow.ini"
run native "$module_so" "$disk" 4001 >/dev/null
"$out/gen_disk" orphan "$disk" 1000
read -r _ _ _ sy <<<"$(run native "$module_so" "$disk" 200)"
printf "%-24s %6s  (into %s folders)\n" "recovery of 1000, folders" "$sy" \
  "$(awk '/recovered .* in / { sub(/.* in \x27/, ""); f[$0] = 1 } END { print length(f) }' \
     "$disk/ProgramFiles/Settings/Zorvane/Quarrow.log")"
rm -rf "$disk"
} | tee "$results"
echo "results: $results"
