#!/bin/bash
# Both reports against a real Zabbix server (the sandbox): the discovered items appear, and every
# host's age lands in the server's history with the right value.
#   real_server.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
sandbox=$2/scripts/zabbix-sandbox

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the Zabbix sandbox needs root"
if ! dpkg-query -W -f='${Status}' zabbix-server-pgsql 2>/dev/null | grep -q 'ok installed' &&
   ! apt-cache policy zabbix-server-pgsql 2>/dev/null | grep -q 'Candidate: [0-9]'; then
  skip "the package zabbix-server-pgsql is not available here"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; "$sandbox" stop' EXIT
"$sandbox" restart

sql() { "$sandbox" sql "$1"; }
fail() {
  echo "FAILED: $*" >&2
  echo "--- items and their state" >&2
  sql "SELECT i.itemid, i.key_, i.flags, r.state, r.error FROM items i
       LEFT JOIN item_rtdata r USING (itemid)" >&2 || true
  echo "--- server log" >&2
  grep -v ' started \[' "${BM_SANDBOX_DIR:-/var/tmp/backup-monitor-sandbox}/zabbix_server.log" |
    tail -n 30 >&2 || true
  exit 1
}
wait_for() {  # wait_for DESCRIPTION SQL EXPECTED
  for _ in $(seq 1 300); do
    [ "$(sql "$2")" = "$3" ] && return 0
    sleep 0.1
  done
  fail "$1: wanted $3, have $(sql "$2")"
}

huawei=$tmp/backups-huawei
routers=$tmp/routers
mkdir "$huawei" "$routers"
backup() { touch -d "@$2" "$1"; }
backup "$huawei/2024-03-05.cfg.core-sw1.zip" 1700000000.25
backup "$huawei/2024-03-07.cfg.core-sw1.zip" 1700100000.5
backup "$huawei/2024-03-06.cfg.sw,1.zip" 1700200000
backup "$huawei/2024-03-06.cfg.[edge.zip" 1700300000
backup "$huawei/2024-03-06.cfg.\"q\".zip" 1700400000
backup "$huawei/2024-03-06.cfg.são-paulo.zip" 1700500000.75
backup "$routers/router1.cfg" 1700600000
backup "$routers/sw]1" 1700700000

# The keys the server makes from the discovered names, and the time of each one's backup.
cat >"$tmp/expected" <<'KEYS'
ultimaModificacao["SW,1"]|1700200000
ultimaModificacao["SW]1"]|1700700000
ultimaModificacao["[EDGE"]|1700300000
ultimaModificacao["\"Q\""]|1700400000
ultimaModificacao[CORE-SW1]|1700100000.5
ultimaModificacao[ROUTER1.CFG]|1700600000
ultimaModificacao[SÃO-PAULO]|1700500000.75
KEYS
discovered="SELECT count(*) FROM items WHERE flags = 4"

for dir in "$huawei" "$routers"; do
  out=$("$agent" descobertaBackups "$dir" 127.0.0.1 backups)
  [ "$out" = "OK" ] || fail "discovery of $dir printed: $out"
done
wait_for "discovered items" "$discovered" 7
sql "SELECT key_ FROM items WHERE flags = 4 ORDER BY key_" >"$tmp/keys"
cut -d'|' -f1 "$tmp/expected" | LC_ALL=C sort | diff - <(LC_ALL=C sort "$tmp/keys") ||
  fail "the discovered keys differ"

# New items take values once they are in the server's configuration cache.
"$sandbox" reload
sleep 2

before=$(date +%s.%N)
for dir in "$huawei" "$routers"; do
  out=$("$agent" coletarData "$dir" 127.0.0.1 backups)
  [ -z "$out" ] || fail "collection of $dir printed: $out"
done
after=$(date +%s.%N)
wait_for "values in history" "SELECT count(*) FROM history" 7

sql "SELECT i.key_, h.value FROM history h JOIN items i USING (itemid)" >"$tmp/landed"
awk -F'|' -v before="$before" -v after="$after" '
  NR == FNR { mtime[$1] = $2; next }
  {
    if (!($1 in mtime)) { print "unexpected key " $1; bad = 1; next }
    low = before - mtime[$1] - 0.001; high = after - mtime[$1] + 0.001
    if ($2 < low || $2 > high) { printf "%s: %s not in [%f, %f]\n", $1, $2, low, high; bad = 1 }
    seen[$1] = 1
  }
  END {
    for (k in mtime) if (!(k in seen)) { print "no value for " k; bad = 1 }
    exit bad
  }' "$tmp/expected" "$tmp/landed" || fail "the ages in history are wrong"
echo "every age landed: $(wc -l <"$tmp/landed") values"
