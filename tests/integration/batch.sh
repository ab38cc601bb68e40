#!/bin/bash
# Batched delivery against a real Zabbix with the shipped template: 300 devices' ages and health
# sent in requests of 250 through a relay that records them, and every value stored in history
# with the clock and nanoseconds the agent gave it, not the server's time of arrival.
#   batch.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql zabbix-frontend-php socat"
diagnose() {
  sql "SELECT count(*), min(i.key_) FROM items i WHERE i.flags = 4"
  tail -n 20 "$("$sandbox" dir)/zabbix_server.log"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"

devices=300
dir=$tmp/backups-huawei
mkdir "$dir"
for i in $(seq -w 1 "$devices"); do
  echo "hostname sw$i" >"$dir/2024-03-05.cfg.sw$i.cfg"
  touch -d @1700000000 "$dir/2024-03-05.cfg.sw$i.cfg"
done
export BACKUP_MONITOR_BATCH=250

out=$("$agent" descobertaBackups "$dir" 127.0.0.1 backups)
[ "$out" = OK ] || fail "discovery printed: $out"
wait_for "discovered ages" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%'" "$devices"
wait_for "discovered health" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'saudeBackup[%'" "$devices"
"$sandbox" reload

# A relay on 127.0.0.4:10052 that writes what the agent sends to a file.
timeout 120 socat -d -d -r "$tmp/requests" TCP-LISTEN:10052,bind=127.0.0.4,fork,reuseaddr \
  TCP:127.0.0.1:10052 2>"$tmp/relay.log" &
relay=$!
trap 'kill "$relay" 2>/dev/null || true; rm -rf "$tmp"; "$sandbox" stop' EXIT
listening() { grep -q "listening on" "$tmp/relay.log"; }
wait_until 10 "" listening 2>/dev/null || fail "the relay does not listen"

for mode in coletarData coletarSaude; do
  out=$("$agent" "$mode" "$dir" 127.0.0.4 backups)
  [ -z "$out" ] || fail "$mode printed: $out"
done
requests=$(grep -c "accepting connection" "$tmp/relay.log" || true)
[ "$requests" = 4 ] || fail "$((2 * devices)) values in requests of 250 came in $requests requests, not 4"

# Each request's values as key|clock|ns, read frame by frame: the header's bytes 5-8 give the
# length of the JSON that follows.
sent() {
  local at=0 size length
  size=$(stat -c %s "$tmp/requests")
  while [ "$at" -lt "$size" ]; do
    length=$(od -An -tu4 -j $((at + 5)) -N4 "$tmp/requests" | tr -d ' ')
    dd if="$tmp/requests" iflag=skip_bytes,count_bytes skip=$((at + 13)) count="$length" \
      status=none | jq -r '.data[] | "\(.key)|\(.clock)|\(.ns)"'
    at=$((at + 13 + length))
  done
}
sent | LC_ALL=C sort >"$tmp/sent"
[ "$(wc -l <"$tmp/sent")" = $((2 * devices)) ] || fail "the relay saw $(wc -l <"$tmp/sent") values"
grep -q '|null|' "$tmp/sent" && fail "a value went without its clock"

stored() {
  sql "SELECT i.key_, h.clock, h.ns FROM $1 h JOIN items i USING (itemid) WHERE i.key_ LIKE '$2'"
}
wait_for "ages in history" "$ages" "$devices"
wait_for "health in history" "SELECT count(*) FROM history_text h JOIN items i USING (itemid)
  WHERE i.key_ LIKE 'saudeBackup[%'" "$devices"
{ stored history 'ultimaModificacao[%'; stored history_text 'saudeBackup[%'; } |
  LC_ALL=C sort >"$tmp/stored"
diff "$tmp/sent" "$tmp/stored" >&2 || fail "history's clocks are not the ones the agent sent"
echo "batched: $((2 * devices)) values in 4 requests, each stored at the clock it was sent with"
