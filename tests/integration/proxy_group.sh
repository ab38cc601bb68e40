#!/bin/bash
# A Zabbix 7.0 proxy group, real: proxy-a and proxy-b share the host "backups", which the server
# gives to one of them. Sent to the server, or to the proxy that does not own the host, the
# values are redirected to the owner and reach history; the first value of a run is redirected,
# the next ones go to the owner straight.
#   proxy_group.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql socat"
diagnose() {
  sql "SELECT hp.hostid, p.name, p.local_address, p.local_port FROM host_proxy hp JOIN proxy p USING (proxyid)"
  tail -n 20 "$("$sandbox" dir)/zabbix_server.log"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"
owner=$("$sandbox" proxy-group-start)
other=127.0.0.1:10053
[ "$owner" != "$other" ] || other=127.0.0.2:10053

dir=$tmp/routers
mkdir "$dir"
for name in router1 router2 router3; do touch -d @1700000000 "$dir/$name"; done

out=$("$agent" descobertaBackups "$dir" 127.0.0.1:10052 backups)
[ "$out" = OK ] || fail "discovery sent to the server printed: $out"
wait_for "items discovered through $owner" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%'" 3
"$sandbox" reload
owner_name=proxy-a
[ "${owner%:*}" = 127.0.0.1 ] || owner_name=proxy-b
# 3 devices × 5, the empty-directory trapper, the inventory's trapper and its three counts
wait_proxy_items "$owner_name" "${owner%:*}" 20
# $other behind a forwarder on 127.0.0.3:10053 that logs each connection it accepts.
timeout 120 socat -d -d TCP-LISTEN:10053,bind=127.0.0.3,fork,reuseaddr "TCP:$other" \
  2>"$tmp/forwarder.log" &
forwarder=$!
trap 'kill "$forwarder" 2>/dev/null || true; rm -rf "$tmp"; "$sandbox" stop' EXIT
listening() { grep -q "listening on" "$tmp/forwarder.log"; }
wait_until 10 "" listening 2>/dev/null || fail "the forwarder does not listen"
out=$("$agent" coletarData "$dir" 127.0.0.3:10053 backups)
[ -z "$out" ] || fail "collection sent to $other printed: $out"
wait_for "ages redirected from $other to $owner" "$ages" 3
connections=$(grep -c "accepting connection" "$tmp/forwarder.log" || true)
[ "$connections" = 1 ] || fail "$other was asked $connections times for 3 values, not once"
echo "the server and $other redirected to $owner; every value delivered, $other asked once"

# Batched: one request of the three values, redirected once as a whole.
out=$(BACKUP_MONITOR_BATCH=3 "$agent" coletarData "$dir" 127.0.0.3:10053 backups)
[ -z "$out" ] || fail "batched collection sent to $other printed: $out"
wait_for "batched ages redirected from $other to $owner" "$ages" 6
connections=$(grep -c "accepting connection" "$tmp/forwarder.log" || true)
[ "$connections" = 2 ] || fail "$other was asked $((connections - 1)) times for one request, not once"
echo "a request of 3 values redirected once from $other to $owner"
