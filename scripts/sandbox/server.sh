# shellcheck shell=bash
# The standalone server: 127.0.0.1 with its trapper on port 10052, its files in the sandbox's
# directory; how it is configured, when it is ready, and reloading its configuration cache.

conf=$dir/zabbix_server.conf

# write_config FILE ADDRESS PORT WORKDIR: a server's configuration; more lines may follow. Few
# processes of each kind; one history poller, which computes the template's count of ages.
write_config() {
  cat >"$1" <<CONF
ListenIP=$2
ListenPort=$3
AllowRoot=1
LogFile=$4/zabbix_server.log
PidFile=$4/zabbix_server.pid
SocketDir=$4
DBHost=127.0.0.1
DBPort=$pgport
DBName=zabbix
DBUser=postgres
CacheSize=256M
CacheUpdateFrequency=1
HousekeepingFrequency=0
StatsAllowedIP=127.0.0.1
StartPollers=0
StartPollersUnreachable=0
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
StartTimers=1
StartEscalators=1
StartAlerters=1
StartTrappers=1
StartPreprocessors=1
StartLLDProcessors=1
StartDBSyncers=1
StartHistoryPollers=1
StartProxyPollers=0
StartReportWriters=0
StartODBCPollers=0
StartJavaPollers=0
StartVMwareCollectors=0
StartSNMPTrapper=0
CONF
}

# lld_ready GROUP: the discovery worker of the server whose processes are GROUP has processed a
# document. Documents that reach the server before its worker has registered wait in the queue
# until another one arrives, so an empty one is sent each time until the worker has taken one.
lld_ready() {
  request "$(jq -nc --arg host "$host" \
    '{request: "sender data", data: [{host: $host, key: "descobertaBackups", value: "{\"data\":[]}"}]}')" \
    "$2" "$3" >/dev/null 2>&1 || true
  sleep 0.2
  pgrep -g "$1" -f 'lld worker #1 \[processed [1-9]' >/dev/null
}

# wait_ready WORKDIR ADDRESS PORT: for the server whose files are in WORKDIR, up to 30 s for the
# monitored host in its configuration cache and its discovery worker at work.
wait_ready() {
  local group
  group=$(ps -o pgid= -p "$(cat "$1/zabbix_server.pid")" | tr -d ' ')
  has_hosts "$2" "$3" || true
  wait_until 30 "the server did not become ready; see $1/zabbix_server.log" lld_ready "$group" "$2" "$3" ||
    { tail -n 20 "$1/zabbix_server.log" >&2; return 1; }
}

# start_server [LINE...]: the standalone server, with these configuration lines added.
start_server() {
  write_config "$conf" 127.0.0.1 10052 "$(inner "$dir")"
  if [ $# -gt 0 ]; then printf '%s\n' "$@" >>"$conf"; fi
  refuse_taken 127.0.0.1 10052
  rm -f "$dir/zabbix_server.log"
  zbx zabbix_server -c "$(inner "$conf")"
  wait_ready "$dir" 127.0.0.1 10052
}

running() { alive "$dir/zabbix_server.pid"; }

# runtime WORKDIR COMMAND: a runtime control command to the server whose files are in WORKDIR.
runtime() { zbx zabbix_server -c "$(inner "$1/zabbix_server.conf")" -R "$2" >/dev/null 2>&1; }

# reload_server WORKDIR: its configuration cache read again from the database, and waited for.
reload_server() {
  local log=$1/zabbix_server.log started="forced reloading of the configuration cache" before
  alive "$1/zabbix_server.pid" || return 0
  if [ "$version" = 7.0 ]; then
    local finished="finished $started"
    before=$(log_count "$log" "$finished")
    runtime "$1" config_cache_reload
    wait_until 10 "no end of the reload in $log" log_grew "$log" "$finished" "$before"
    return
  fi
  # 6.0 says when a reload starts, never when it ends; but its configuration syncer takes one
  # request at a time, between syncs: once it has started a second, the first has ended.
  before=$(log_count "$log" "$started")
  runtime "$1" config_cache_reload
  wait_until 10 "no reload in $log" log_grew "$log" "$started" "$before"
  runtime "$1" config_cache_reload
  wait_until 10 "no second reload in $log" log_grew "$log" "$started" "$((before + 1))"
}

# Whichever server runs: the standalone one, or the cluster's active node (a standby node has no
# cache to reload).
reload() {
  local node
  reload_server "$dir"
  for node in node1 node2; do
    if alive "$dir/$node/zabbix_server.pid" && [ "$(ha_state "$node")" = 3 ]; then
      reload_server "$dir/$node"
    fi
  done
}
