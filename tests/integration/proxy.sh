#!/bin/bash
# A real Zabbix proxy: the host is monitored by an active proxy on 127.0.0.1:10053, the agent
# sends both reports to the proxy, and the proxy brings the discovered items and every value to
# the server.
#   proxy.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql zabbix-frontend-php zabbix-proxy-sqlite3"
diagnose() {
  sql "SELECT i.key_, r.state, r.error FROM items i LEFT JOIN item_rtdata r USING (itemid)"
  tail -n 20 "$("$sandbox" dir)/backup-proxy/zabbix_proxy.log"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"
"$sandbox" proxy-start

dir=$tmp/routers
mkdir "$dir"
for name in router1 router2 router3; do touch -d @1700000000 "$dir/$name"; done

out=$("$agent" descobertaBackups "$dir" 127.0.0.1:10053 backups)
[ "$out" = OK ] || fail "discovery through the proxy printed: $out"
wait_for "items discovered through the proxy" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%'" 3

# The new items reach the server's cache, then the proxy's.
"$sandbox" reload
# Each device's age, health, size, completeness and digest, the host's empty-directory trapper, and
# the inventory's trapper with its three counts.
wait_proxy_items backup-proxy 127.0.0.1 20

start=$(date +%s%N)
out=$("$agent" coletarData "$dir" 127.0.0.1:10053 backups)
spent=$((($(date +%s%N) - start) / 1000000))
[ -z "$out" ] || fail "collection through the proxy printed: $out"
wait_for "values the proxy forwarded" "$ages" 3
echo "proxy: 3 values in $spent ms"

# Batched, two requests: the proxy takes each value with its own clock.
out=$(BACKUP_MONITOR_BATCH=2 "$agent" coletarData "$dir" 127.0.0.1:10053 backups)
[ -z "$out" ] || fail "batched collection through the proxy printed: $out"
wait_for "batched values the proxy forwarded" "$ages" 6
echo "proxy: 3 more values in requests of 2"
