#!/bin/bash
# What an inventory costs discovery: a directory of 1,000 backups discovered (debug, so that
# nothing waits on a server) without an inventory, and with router.db inventories of 10,000 and
# 100,000 names (about 1 and 10 MB), 900 of whose devices have backups. Least wall time (with the time to start the measuring processes) and peak
# memory of five runs each, the ratios against the run without, and the cost per name.
#   inventory_bench.sh AGENT [WORK_DIR]
set -euo pipefail
agent=$1
work=${2:-${TMPDIR:-/tmp}/backup-monitor-inventory-bench}
rm -rf "$work"
mkdir -p "$work/backups"
for i in $(seq 100 1099); do : >"$work/backups/sw$i"; done
inventory() {  # inventory NAMES FILE: the first 900 have backups
  awk -v n="$1" 'BEGIN { for (i = 200; i < 200 + n; i++)
    printf "sw%d;cisco;up;sala %d, armário %d: switch de acesso do andar, backup noturno da rotina central\n", i, i % 40, i % 7 }' >"$2"
}
inventory 10000 "$work/inventory-10k"
inventory 100000 "$work/inventory-100k"

# least SECONDS and KIB of five runs: "seconds kib"
measure() {
  local best_s=999 best_k=0 start s k
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    k=$( { /usr/bin/time -f "%M" env ${1:+BACKUP_MONITOR_INVENTORY=$1} \
      "$agent" descobertaBackups "$work/backups" 127.0.0.1 debug >/dev/null; } 2>&1 )
    s=$(awk -v ns="$(($(date +%s%N) - start))" 'BEGIN { printf "%.4f", ns / 1e9 }')
    best_s=$(awk -v a="$s" -v b="$best_s" 'BEGIN { print (a + 0 < b + 0 ? a : b) }')
    [ "$k" -gt "$best_k" ] && best_k=$k
  done
  echo "$best_s $best_k"
}
read -r base_s base_k < <(measure "")
printf '%-22s %8s %10s %8s %8s\n' inventory seconds "peak KiB" "× time" "× memory"
printf '%-22s %8s %10s %8s %8s\n' none "$base_s" "$base_k" 1.00 1.00
declare -A secs kib
for size in 10k 100k; do
  file=$work/inventory-$size
  read -r s k < <(measure "$file")
  secs[$size]=$s kib[$size]=$k
  printf '%-22s %8s %10s %8s %8s\n' "$size ($(($(stat -c %s "$file") / 1000)) kB)" "$s" "$k" \
    "$(awk -v a="$s" -v b="$base_s" 'BEGIN { printf "%.2f", a / b }')" \
    "$(awk -v a="$k" -v b="$base_k" 'BEGIN { printf "%.2f", a / b }')"
done
# From 10,000 names to 100,000: what each further name costs.
awk -v s1="${secs[10k]}" -v s2="${secs[100k]}" -v k1="${kib[10k]}" -v k2="${kib[100k]}" \
  'BEGIN { printf "per name, 10k to 100k: %.2f µs, %.0f bytes\n", (s2 - s1) / 90000 * 1e6, (k2 - k1) * 1024 / 90000 }'
rm -rf "$work"
