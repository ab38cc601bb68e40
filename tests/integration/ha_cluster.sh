#!/bin/bash
# A stock port and an HA cluster, real: two Zabbix servers on one database, node1 on
# 127.0.0.1:10051 (active) and node2 on 127.0.0.2:10051 (standby). The agent given the trapper's
# own port delivers; given both nodes it delivers to the active one, also after the active node
# has been stopped between two runs, without a retry line.
#   ha_cluster.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql"
diagnose() {
  sql "SELECT name, status, address, port FROM ha_node"
  sql "SELECT i.key_, r.state, r.error FROM items i LEFT JOIN item_rtdata r USING (itemid)"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"
"$sandbox" ha-start

dir=$tmp/routers
mkdir "$dir"
for name in router1 router2 router3; do touch -d @1700000000 "$dir/$name"; done
cluster="127.0.0.1:10051;127.0.0.2:10051"
history=$ages

# Times one run of the agent, in milliseconds, into $spent; what it printed into $out.
timed() {
  local start
  start=$(date +%s%N)
  out=$("$agent" "$@")
  spent=$((($(date +%s%N) - start) / 1000000))
}

timed descobertaBackups "$dir" 127.0.0.1:10051 backups
[ "$out" = OK ] || fail "discovery on port 10051 printed: $out"
wait_for "discovered items" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%'" 3
"$sandbox" reload

timed coletarData "$dir" 127.0.0.1:10051 backups
[ -z "$out" ] || fail "collection on port 10051 printed: $out"
wait_for "values through port 10051" "$history" 3
echo "port 10051: 3 values in $spent ms"

timed coletarData "$dir" "$cluster" backups
[ -z "$out" ] || fail "collection to the cluster printed: $out"
wait_for "values through the active node1" "$history" 6
echo "cluster, node1 active: 3 values in $spent ms"

"$sandbox" ha-stop node1
timed coletarData "$dir" "$cluster" backups
[ -z "$out" ] || fail "collection after the failover printed: $out"
wait_for "values through node2 after the failover" "$history" 9
echo "cluster, node1 stopped and node2 active: 3 values in $spent ms"
