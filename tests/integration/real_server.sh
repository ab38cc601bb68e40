#!/bin/bash
# Both reports against a real Zabbix server (the sandbox): the discovered items appear, and every
# host's age lands in the server's history with the right value.
#   real_server.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql"
diagnose() {
  echo "--- items and their state"
  sql "SELECT i.itemid, i.key_, i.flags, r.state, r.error FROM items i
       LEFT JOIN item_rtdata r USING (itemid)"
  echo "--- server log"
  grep -v ' started \[' "$("$sandbox" dir)/zabbix_server.log" |
    tail -n 30
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"

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
discovered="SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%'"

for dir in "$huawei" "$routers"; do
  out=$("$agent" descobertaBackups "$dir" 127.0.0.1 backups)
  [ "$out" = "OK" ] || fail "discovery of $dir printed: $out"
done
wait_for "discovered items" "$discovered" 7
sql "SELECT key_ FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%' ORDER BY key_" >"$tmp/keys"
cut -d'|' -f1 "$tmp/expected" | LC_ALL=C sort | diff - <(LC_ALL=C sort "$tmp/keys") ||
  fail "the discovered keys differ"

# New items take values once they are in the server's configuration cache.
"$sandbox" reload

before=$(date +%s.%N)
for dir in "$huawei" "$routers"; do
  out=$("$agent" coletarData "$dir" 127.0.0.1 backups)
  [ -z "$out" ] || fail "collection of $dir printed: $out"
done
after=$(date +%s.%N)
wait_for "values in history" "$ages" 7

sql "SELECT i.key_, h.value FROM history h JOIN items i USING (itemid)
     WHERE i.key_ LIKE 'ultimaModificacao[%'" >"$tmp/landed"
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

# Values the server refuses are said, one line each: a host it does not know, and an item it has
# not discovered yet (the others of that run are taken, silently).
refused() {  # refused HOST KEY: the line's pattern, the server's timing aside
  printf "Zabbix recusou o valor: 127\\.0\\.0\\.1 - host '%s', item '%s': " "$1" "$2"
  printf 'processed: 0; failed: 1; total: 1; seconds spent: [0-9.]+'
}
out=$("$agent" coletarData "$routers" 127.0.0.1 no-such-host)
if ! grep -Eqx "$(refused no-such-host 'ultimaModificacao\[ROUTER1\.CFG\]')" <<<"$out" ||
  ! grep -Eqx "$(refused no-such-host 'ultimaModificacao\["SW\]1"\]')" <<<"$out" ||
  [ "$(wc -l <<<"$out")" != 2 ]; then
  fail "an unknown host's values: $out"
fi
touch "$routers/new-router"
out=$("$agent" coletarData "$routers" 127.0.0.1 backups)
grep -Eqx "$(refused backups 'ultimaModificacao\[NEW-ROUTER\]')" <<<"$out" ||
  fail "an item not yet discovered: $out"
echo "refused values said: $(wc -l <<<"$out") line for the new device"

# The sandbox keeps what an operator made: stopped and started again, it goes on with its
# database; only restart starts afresh.
"$sandbox" api hostgroup.create '{"name":"Kept"}' >/dev/null
"$sandbox" stop
"$sandbox" start >/dev/null
[ "$(sql "SELECT count(*) FROM hstgrp WHERE name = 'Kept'")" = 1 ] || fail "start lost the database"
[ "$(sql "$ages")" -ge 7 ] || fail "start lost the history"
echo "stopped and started again: the operator's group and the history kept"
