# shellcheck shell=bash
# Active proxies (SQLite): "backup-proxy" on 127.0.0.1:10053 monitoring the host, or on 7.0 a
# proxy group of proxy-a (127.0.0.1:10053) and proxy-b (127.0.0.2:10053) that monitors it.

proxy_name=backup-proxy
# The proxy package conflicts with the server's, so its files are unpacked for the sandbox alone
# (inside the chroot, for 7.0).
unpacked=$dir/proxy-package
[ -z "$root" ] || unpacked=$root/opt/zabbix-proxy

unpack_proxy() {
  [ -x "$unpacked/usr/sbin/zabbix_proxy" ] && return 0
  local download=$dir/proxy-download
  [ -z "$root" ] || download=$root/tmp/proxy-download
  rm -rf "$unpacked" "$unpacked.partial" "$download"
  mkdir -p "$download"
  # apt's own user fetches into the directory it may write, as with apt-get install.
  chown _apt: "$download" 2>/dev/null || true
  zbx sh -c "cd $(inner "$download") && apt-get download -q zabbix-proxy-sqlite3" >/dev/null
  dpkg-deb -x "$download"/zabbix-proxy-sqlite3_*.deb "$unpacked.partial"
  mv "$unpacked.partial" "$unpacked"
  rm -rf "$download"
}

# create_proxy NAME ADDRESS [GROUP]: an active proxy on the server, listening at ADDRESS:10053
# (the address a proxy group redirects to); prints its id.
create_proxy() {
  local params
  if [ "$version" = 6.0 ]; then
    params=$(jq -nc --arg name "$1" '{host: $name, status: 5}')
  else
    # Only a proxy of a group has an address, the one redirects point at.
    params=$(jq -nc --arg name "$1" --arg address "$2" --arg group "${3:-}" '{name: $name,
      operating_mode: 0} + if $group == "" then {} else {proxy_groupid: $group,
      local_address: $address, local_port: "10053"} end')
  fi
  api_call proxy.create "$params" | jq -r '.proxyids[0]'
}

# start_proxy NAME ADDRESS [answers]: the proxy's own process, files in $dir/NAME, listening on
# ADDRESS:10053; waits until it has the host in its configuration, or (answers) until it answers:
# a proxy group gives the host to one proxy only.
start_proxy() {
  local work=$dir/$1 at
  at=$(inner "$work")
  mkdir -p "$work"
  rm -f "$work/proxy.db" "$work/zabbix_proxy.log"
  zcat "$unpacked/usr/share/zabbix-proxy-sqlite3/schema.sql.gz" | sqlite3 "$work/proxy.db"
  {
    printf '%s\n' ProxyMode=0 Server=127.0.0.1:10052 "Hostname=$1" "ListenIP=$2" ListenPort=10053 \
      AllowRoot=1 "LogFile=$at/zabbix_proxy.log" "PidFile=$at/zabbix_proxy.pid" "SocketDir=$at" \
      "DBName=$at/proxy.db" DataSenderFrequency=1 CacheSize=128M HousekeepingFrequency=0 \
      StatsAllowedIP=127.0.0.1 StartPollers=0 StartPollersUnreachable=0 StartPingers=0 \
      StartDiscoverers=0 StartHTTPPollers=0 StartTrappers=1 StartPreprocessors=1 \
      StartODBCPollers=0 StartJavaPollers=0 StartVMwareCollectors=0 StartSNMPTrapper=0
    if [ "$version" = 6.0 ]; then
      printf '%s\n' ConfigFrequency=3600 StartHistoryPollers=0
    else
      printf '%s\n' ProxyConfigFrequency=1 StartAgentPollers=0 StartHTTPAgentPollers=0 StartSNMPPollers=0
    fi
  } >"$work/zabbix_proxy.conf"
  refuse_taken "$2" 10053
  zbx "$(inner "$unpacked")/usr/sbin/zabbix_proxy" -c "$at/zabbix_proxy.conf"
  if [ "${3:-}" = answers ]; then
    wait_until 30 "the proxy $1 does not answer" proxy_answers "$2" && return 0
  elif has_hosts "$2" 10053; then
    return 0
  fi
  echo "zabbix-sandbox: the proxy $1 has no configuration; see $work/zabbix_proxy.log" >&2
  tail -n 20 "$work/zabbix_proxy.log" >&2 || true
  return 1
}
proxy_answers() { request '{"request":"zabbix.stats"}' "$1" 10053 >/dev/null 2>&1; }

monitor_by() {  # monitor_by PARAMS: the host's monitoring, as its Host tab sets it
  local hostid
  hostid=$(sql "SELECT hostid FROM hosts WHERE host = '$host'")
  api_call host.update "$(jq -c --arg id "$hostid" '. + {hostid: $id}' <<<"$1")" >/dev/null
  runtime "$dir" config_cache_reload
}

proxy_start() {
  local proxyid
  unpack_proxy
  proxyid=$(create_proxy "$proxy_name" 127.0.0.1)
  if [ "$version" = 6.0 ]; then
    monitor_by "$(jq -nc --arg id "$proxyid" '{proxy_hostid: $id}')"
  else
    monitor_by "$(jq -nc --arg id "$proxyid" '{monitored_by: 1, proxyid: $id}')"
  fi
  start_proxy "$proxy_name" 127.0.0.1
  echo "zabbix-sandbox: proxy \"$proxy_name\" on 127.0.0.1:10053 monitors \"$host\""
}

# The proxy that owns the host, by the server's record, once it has the host: "ADDRESS:PORT".
group_owner() {
  owner=$(sql "SELECT p.local_address || ':' || p.local_port FROM host_proxy hp JOIN proxy p
               USING (proxyid) JOIN hosts h USING (hostid) WHERE h.host = '$host'")
  [ -n "$owner" ] && hosts_now "${owner%:*}" 10053
}

# 7.0: both proxies in the group "backup-proxies", which monitors the host: the server gives the
# host to one of them. Waits until it has, and prints that proxy's address.
proxy_group_start() {
  local group owner=""
  [ "$version" = 7.0 ] || { echo "zabbix-sandbox: proxy groups need Zabbix 7.0" >&2; return 1; }
  unpack_proxy
  group=$(api_call proxygroup.create '{"name":"backup-proxies","failover_delay":"10s","min_online":"1"}' |
    jq -r '.proxy_groupids[0]')
  create_proxy proxy-a 127.0.0.1 "$group" >/dev/null
  create_proxy proxy-b 127.0.0.2 "$group" >/dev/null
  monitor_by "$(jq -nc --arg id "$group" '{monitored_by: 2, proxy_groupid: $id}')"
  start_proxy proxy-a 127.0.0.1 answers
  start_proxy proxy-b 127.0.0.2 answers
  wait_until 60 "the proxy group gave \"$host\" to no proxy; see $dir/zabbix_server.log" group_owner
  echo "$owner"
}

# proxy_reload [NAME]: make a proxy fetch its configuration from the server now.
proxy_reload() {
  zbx "$(inner "$unpacked")/usr/sbin/zabbix_proxy" -c "$(inner "$dir/${1:-$proxy_name}/zabbix_proxy.conf")" \
    -R config_cache_reload >/dev/null
}
