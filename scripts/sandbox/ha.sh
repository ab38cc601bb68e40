# shellcheck shell=bash
# An HA cluster on the sandbox's database in place of the standalone server: node1 on
# 127.0.0.1:10051 (active), node2 on 127.0.0.2:10051 (standby).

# ha_state NODE: its status in the cluster (0 standby, 1 stopped, 2 unavailable, 3 active).
ha_state() { sql "SELECT status FROM ha_node WHERE name = '$1'"; }
ha_state_is() { [ "$(ha_state "$1")" = "$2" ]; }

wait_ha_state() {  # wait_ha_state NODE STATUS
  wait_until 30 "$1 is not in state $2; see $dir/$1/zabbix_server.log" ha_state_is "$1" "$2"
}

start_node() {  # start_node NAME ADDRESS
  local work=$dir/$1
  mkdir -p "$work"
  rm -f "$work/zabbix_server.log"
  write_config "$work/zabbix_server.conf" "$2" 10051 "$(inner "$work")"
  printf 'HANodeName=%s\nNodeAddress=%s:10051\n' "$1" "$2" >>"$work/zabbix_server.conf"
  refuse_taken "$2" 10051
  zbx zabbix_server -c "$(inner "$work/zabbix_server.conf")"
}

# The standalone server leaves the database to the cluster; node1 starts first and so is active.
ha_start() {
  stop_daemon "$dir/zabbix_server.pid"
  start_node node1 127.0.0.1
  wait_ha_state node1 3
  wait_ready "$dir/node1" 127.0.0.1 10051
  start_node node2 127.0.0.2
  wait_ha_state node2 0
  echo "zabbix-sandbox: HA cluster node1 127.0.0.1:10051 (active), node2 127.0.0.2:10051 (standby)"
}

# The node's processes stop as with systemctl stop; the other node is then waited for until it
# is active and its trapper answers with the hosts in its configuration.
ha_stop() {
  local other=node2 address=127.0.0.2
  if [ "$1" = node2 ]; then other=node1 address=127.0.0.1; fi
  stop_daemon "$dir/$1/zabbix_server.pid"
  wait_ha_state "$1" 1
  wait_ha_state "$other" 3
  has_hosts "$address" 10051
}
