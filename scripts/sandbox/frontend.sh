# shellcheck shell=bash
# The web frontend on http://127.0.0.1:18052/ (Admin, zabbix), served by php -S from its own
# copy (6.0) or from the chroot (7.0), and its JSON-RPC API, through which the template is
# imported as an operator would.

api_url=http://127.0.0.1:18052/api_jsonrpc.php

# Debian's frontend reads its settings from /etc/zabbix only. Rather than touch the machine's
# configuration, the sandbox serves a copy of the frontend that reads its own file.
prepare_frontend() {
  local settings=$dir/zabbix.conf.php
  if [ -n "$root" ]; then
    # The chroot is the sandbox's own: its frontend reads its own /etc.
    settings=$root/etc/zabbix/zabbix.conf.php
  elif [ ! -d "$dir/frontend" ]; then
    cp -a /usr/share/zabbix "$dir/frontend.partial"
    sed -i "s|'/etc/zabbix/zabbix.conf.php'|'$dir/zabbix.conf.php'|" \
      "$dir/frontend.partial/include/classes/core/CConfigFile.php"
    mv "$dir/frontend.partial" "$dir/frontend"
  fi
  # The graphs' font is a relative link in the package, which the copy breaks: without it graphs
  # are drawn without a word, and small ones without their lines.
  if [ -z "$root" ] && [ ! -e "$dir/frontend/assets/fonts/DejaVuSans.ttf" ]; then
    rm -rf "$dir/frontend/assets/fonts"
    cp -rL /usr/share/zabbix/assets/fonts "$dir/frontend/assets/fonts"
  fi
  cat >"$settings" <<PHP
<?php
\$DB['TYPE'] = 'POSTGRESQL';
\$DB['SERVER'] = '127.0.0.1';
\$DB['PORT'] = '$pgport';
\$DB['DATABASE'] = 'zabbix';
\$DB['USER'] = 'postgres';
\$DB['PASSWORD'] = '';
\$DB['SCHEMA'] = '';
\$DB['ENCRYPTION'] = false;
\$DB['KEY_FILE'] = '';
\$DB['CERT_FILE'] = '';
\$DB['CA_FILE'] = '';
\$DB['VERIFY_HOST'] = false;
\$DB['CIPHER_LIST'] = '';
\$DB['VAULT_URL'] = '';
\$DB['VAULT_DB_PATH'] = '';
\$DB['VAULT_TOKEN'] = '';
\$DB['DOUBLE_IEEE754'] = true;
\$ZBX_SERVER = '127.0.0.1';
\$ZBX_SERVER_PORT = '10052';
\$ZBX_SERVER_NAME = 'backup-monitor sandbox';
\$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
PHP
}

api_answers() { api_call apiinfo.version '{}' false >/dev/null 2>&1; }

# A frontend that is still going away holds the port for a while: a new one started then fails
# to listen, and the old one answers the first requests before it goes. So the port must be
# free first, and the answer must come while the new one runs.
start_frontend() {
  prepare_frontend
  wait_until 10 "the port 18052 stays taken" port_free 127.0.0.1 18052 2>/dev/null || true
  refuse_taken 127.0.0.1 18052
  if [ -n "$root" ]; then
    setsid chroot "$root" php -S 127.0.0.1:18052 -t /usr/share/zabbix >"$dir/php.log" 2>&1 </dev/null &
  else
    setsid php -S 127.0.0.1:18052 -t "$dir/frontend" >"$dir/php.log" 2>&1 </dev/null &
  fi
  echo $! >"$dir/php.pid"
  if wait_until 10 "the frontend's API does not answer; see $dir/php.log" api_answers &&
    alive "$dir/php.pid"; then
    return 0
  fi
  cat "$dir/php.log" >&2
  return 1
}

frontend_gone() { ! alive "$dir/php.pid"; }

# Waits until it has gone, so that the next one can take its port.
stop_frontend() {
  [ -f "$dir/php.pid" ] || return 0
  kill "$(cat "$dir/php.pid")" 2>/dev/null || true
  wait_until 10 "the frontend did not end; killed" frontend_gone 2>/dev/null || true
  kill -KILL "$(cat "$dir/php.pid")" 2>/dev/null || true
  rm -f "$dir/php.pid"
}

# api_call METHOD PARAMS [AUTH]: the result as JSON, or the error on standard error. Callers
# test it in conditions, where set -e is off: so every failure returns one here, a refused
# connection included (jq -e takes an empty reply for a good one). The session goes as each
# frontend takes it: an Authorization header from 6.4 on (7.2 and later refuse the auth field),
# the auth field before.
api_call() {
  local login token="" request reply=""
  local headers=(-H 'Content-Type: application/json-rpc')
  if [ "${3:-true}" = true ]; then
    login=$(api_call user.login '{"username":"Admin","password":"zabbix"}' false) || return 1
    token=$(jq -r . <<<"$login")
  fi
  request=$(jq -nc --arg method "$1" --argjson params "$2" \
    '{jsonrpc: "2.0", method: $method, params: $params, id: 1}')
  if [ -n "$token" ] && api_takes_bearer; then
    headers+=(-H "Authorization: Bearer $token")
  elif [ -n "$token" ]; then
    request=$(jq -c --arg auth "$token" '. + {auth: $auth}' <<<"$request")
  fi
  if ! reply=$(curl -sS "${headers[@]}" --max-time 60 "$api_url" -d "$request") ||
    [ -z "$reply" ] || ! jq -e 'has("result")' >/dev/null <<<"$reply"; then
    echo "zabbix-sandbox: $1: ${reply:-no reply}" >&2
    return 1
  fi
  jq -c .result <<<"$reply"
}

# Whether the frontend is 6.4 or later, which takes the session in an Authorization header.
api_takes_bearer() {
  local major minor
  IFS=. read -r major minor _ <<<"$version"
  [ "$major" -gt 6 ] || { [ "$major" -eq 6 ] && [ "${minor:-0}" -ge 4 ]; }
}

# import_template FILE: the template imported as the guide says, with every rule the file needs
# (an empty rule set imports nothing and still says true); prints its id.
import_template() {
  local groups=groups rules
  # 7.0 keeps templates in template groups.
  [ "$version" = 6.0 ] || groups=template_groups
  rules=$(jq -nc --arg groups "$groups" '[$groups, "templates", "valueMaps", "templateDashboards", "discoveryRules",
    "items", "triggers", "graphs"]
    | map({key: ., value: {createMissing: true, updateExisting: true}}) | from_entries')
  [ "$(api_call configuration.import "$(jq -nc --rawfile source "$1" --argjson rules "$rules" \
    '{format: "yaml", source: $source, rules: $rules}')")" = true ] || return 1
  api_call template.get '{"filter":{"host":["Backup monitor"]},"output":["templateid"]}' |
    jq -er '.[0].templateid'
}
