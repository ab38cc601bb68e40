#!/bin/bash
# What a fleet costs the Zabbix server, measured on the sandbox's real server: devices discovered
# in one run, the items and triggers the template makes of them, the configuration cache they
# take and how long discovery takes to create them. Not a test: run on demand, as root.
#   bench/fleet_sizing.sh AGENT [DEVICES...]      (BM_ZABBIX_VERSION=6.0 or 7.0)
set -euo pipefail
agent=$(realpath "$1")
shift
root=$(cd "$(dirname "$0")/.." && pwd)
sandbox=$root/scripts/zabbix-sandbox
# shellcheck source=../scripts/sandbox/common.sh
. "$root/scripts/sandbox/common.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; "$sandbox" stop' EXIT
sql() { "$sandbox" sql "$1"; }
used() { "$sandbox" stats | jq -r '.data.rcache.used'; }
count_is() { [ "$(sql "$1")" = "$2" ] || { sleep 1; false; }; }

echo "Zabbix ${BM_ZABBIX_VERSION:-6.0}: devices, discovered items and triggers, configuration cache used, time to create them"
for devices in "${@:-1000 2000}"; do
  "$sandbox" restart >/dev/null
  before=$(used)
  dir=$tmp/$devices-huawei
  mkdir "$dir"
  for i in $(seq -w 1 "$devices"); do echo "hostname sw$i" >"$dir/2026-12-07.cfg.sw$i.cfg"; done
  start=$SECONDS
  [ "$("$agent" descobertaBackups "$dir" 127.0.0.1 backups)" = OK ]
  triggers=$(( devices * 11 ))  # the template's trigger prototypes, per device
  wait_until 900 "" count_is "SELECT count(*) FROM triggers WHERE flags = 4" "$triggers" ||
    { echo "discovery of $devices devices did not finish"; exit 1; }
  took=$((SECONDS - start))
  "$sandbox" reload
  items=$(sql "SELECT count(*) FROM items WHERE flags = 4")
  after=$(used)
  awk -v d="$devices" -v i="$items" -v t="$triggers" -v a="$after" -v b="$before" -v s="$took" \
    'BEGIN { printf "%6d devices: %6d items, %6d triggers, cache %5.1f MiB used (%.1f MiB per 1,000 devices), %d s\n",
             d, i, t, a / 1048576, (a - b) / 1048576 * 1000 / d, s }'
done
