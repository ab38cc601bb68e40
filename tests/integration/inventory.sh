#!/bin/bash
# An inventory of five devices, two of them never backed up, delivered by discovery to a real
# Zabbix with the shipped template: exactly two problems naming them, and one of them ends once
# its first backup appears and discovery runs again. A threshold given for one device changes
# that device's problem and no other's; the template's dashboard is there after the import.
#   inventory.sh AGENT SOURCE_DIR
# Zabbix user macros are written as they are, in single quotes.
# shellcheck disable=SC2016
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql zabbix-frontend-php"
diagnose() {
  sql "SELECT name, source, object, objectid, r_eventid FROM problem"
  sql "SELECT i.key_, h.value, h.clock FROM history_uint h JOIN items i USING (itemid) WHERE i.key_ LIKE 'inventario%'"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"
api() { "$sandbox" api "$1" "$2"; }

file=backup-monitor.yaml
[ "${BM_ZABBIX_VERSION:-6.0}" = 6.0 ] || file=backup-monitor-${BM_ZABBIX_VERSION}.yaml
template=$("$sandbox" import-template "$root/templates/$file") || fail "the template was not imported"
widgets=$(api templatedashboard.get "{\"templateids\":[\"$template\"],\"selectPages\":\"extend\"}" |
  jq -r '.[] | .name + ": " + (.pages[0].widgets | map(.name) | sort | join(", "))')
[ "$widgets" = "Backups de configuração: Idade dos backups, Inventário de equipamentos, Tamanho dos backups" ] ||
  fail "the template's dashboard: $widgets"

group=$(api hostgroup.create '{"name":"Backups de teste"}' | jq -r '.groupids[0]')
# EDGE-RT2's backups are late after an hour; everyone else's after the template's two days.
api host.create "$(jq -nc --arg group "$group" --arg template "$template" '{host: "backup-fleet",
  groups: [{groupid: $group}], templates: [{templateid: $template}],
  macros: [{macro: "{$BACKUP.AGE.WARN:\"EDGE-RT2\"}", value: "1h"}]}')" >/dev/null
"$sandbox" reload

now=$(date +%s)
dir=$tmp/routers
mkdir "$dir"
touch -d "@$((now - 3 * 3600))" "$dir/core-sw1" "$dir/edge-rt2"
touch -d "@$((now - 600))" "$dir/lab-fw1"
printf '# the fleet\ncore-sw1\nedge-rt2\nlab-fw1\nsw9\nsão-paulo-fw2\n' >"$tmp/inventory"
export BACKUP_MONITOR_INVENTORY=$tmp/inventory
discover() {
  local out
  out=$("$agent" descobertaBackups "$dir" 127.0.0.1 backup-fleet)
  [ "$out" = OK ] || fail "discovery printed: $out"
}

# The first discovery makes the items of the two devices without backups; the next one gives them
# their states.
discover
wait_for "discovered inventory items" \
  "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'inventarioBackups.estado[%'" 2
wait_for "discovered ages" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%'" 3
"$sandbox" reload
# The server may take the next inventory before its new items are ready: discover until they
# have their states.
states="SELECT count(*) FROM history_uint h JOIN items i USING (itemid)
        WHERE i.key_ LIKE 'inventarioBackups.estado[%'"
states_taken() { [ "$(sql "$states")" -ge 2 ]; }
state_round() { discover && wait_until 5 "" states_taken 2>/dev/null; }
wait_until 60 "the devices without backups have no state" state_round
out=$("$agent" coletarData "$dir" 127.0.0.1 backup-fleet)
[ -z "$out" ] || fail "collection printed: $out"

open="SELECT name FROM problem WHERE r_eventid IS NULL ORDER BY name"
wait_for "problems" "$open" 'Backup de EDGE-RT2 com mais de 1h
Nenhum backup de SW9, esperado no inventário
Nenhum backup de SÃO-PAULO-FW2, esperado no inventário'

# SW9's first backup: the next discovery ends its problem, and only its.
touch "$dir/sw9"
discover
wait_for "problems after SW9's first backup" "$open" 'Backup de EDGE-RT2 com mais de 1h
Nenhum backup de SÃO-PAULO-FW2, esperado no inventário'
wait_for "SW9's resolved problem" \
  "SELECT count(*) FROM problem WHERE r_eventid IS NOT NULL AND name LIKE 'Nenhum backup de SW9%'" 1
echo "inventory works: 2 devices never backed up, 1 backed up since"
