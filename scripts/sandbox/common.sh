# shellcheck shell=bash
# Helpers every room of the sandbox uses: waiting with a deadline, running Zabbix's programs
# (inside the 7.0 chroot or not), framed requests to a trapper, ports and process groups.

# wait_until SECONDS MESSAGE COMMAND...: runs COMMAND every 0.1 s until it succeeds; once
# SECONDS have passed, says MESSAGE on standard error and fails.
wait_until() {
  local deadline=$((SECONDS + $1)) message=$2
  shift 2
  until "$@"; do
    if ((SECONDS >= deadline)); then
      echo "zabbix-sandbox: $message" >&2
      return 1
    fi
    sleep 0.1
  done
}

as_postgres() { runuser -u postgres -- "$@"; }
# A Zabbix program, from the chroot for 7.0; inner PATH: a sandbox path as Zabbix sees it.
zbx() { if [ -n "$root" ]; then chroot "$root" "$@"; else "$@"; fi; }
inner() { echo "${1#"$root"}"; }

# The list is words on purpose.
# shellcheck disable=SC2086
install_packages() { "$here/install-deps" $packages; }

# request BODY [ADDRESS PORT]: one request framed as the trapper reads it (the length counts
# bytes, not characters) over bash's /dev/tcp; prints the reply's JSON.
request() {
  local length size="" shift
  length=$(printf '%s' "$1" | LC_ALL=C wc -c)
  for shift in 0 8 16 24; do size+=$(printf '\\%03o' $(((length >> shift) & 255))); done
  exec 3<>"/dev/tcp/${2:-127.0.0.1}/${3:-10052}" || return 1
  printf "ZBXD\\001${size}\\000\\000\\000\\000%s" "$1" >&3
  timeout 5 cat <&3 | tail -c +14
  exec 3<&-
}

# has_hosts ADDRESS PORT: up to 30 s for the server or proxy there to have hosts in its
# configuration cache, by its own statistics.
has_hosts() { wait_until 30 "$1:$2 has no hosts in its configuration" hosts_now "$1" "$2"; }
hosts_now() { request '{"request":"zabbix.stats"}' "$1" "$2" 2>/dev/null | grep -q '"hosts":[1-9]'; }

port_free() { ! (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

refuse_taken() {
  port_free "$1" "$2" && return 0
  echo "zabbix-sandbox: something else listens on $1:$2" >&2
  return 1
}

group_gone() { ! pgrep -g "$1" >/dev/null; }

# A server or proxy is a group of processes: end them all, by the group of the pid in PIDFILE.
stop_daemon() {
  [ -f "$1" ] || return 0
  local group
  group=$(ps -o pgid= -p "$(cat "$1")" | tr -d ' ' || true)
  if [ -n "$group" ]; then
    kill -TERM -- "-$group" 2>/dev/null || true
    wait_until 30 "the processes of $1 did not end; killed" group_gone "$group" 2>/dev/null || true
    kill -KILL -- "-$group" 2>/dev/null || true
  fi
  rm -f "$1"
}

# A daemon whose pid file names a live process.
alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

# log_count FILE TEXT: how many lines of the log say TEXT.
log_count() { grep -c "$2" "$1" 2>/dev/null || true; }
log_grew() { [ "$(log_count "$1" "$2")" -gt "$3" ]; }
