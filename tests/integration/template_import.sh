#!/bin/bash
# The shipped template, imported into a real Zabbix through its API and linked to new hosts,
# does its job: discovered items and triggers, every age in history, an old backup's trigger in
# PROBLEM with its problem row and a fresh one's not, a file from the future and a name dated
# after today flagged, and once the ages stop coming one problem for the host, none per device.
#   template_import.sh AGENT SOURCE_DIR
# Zabbix user macros ({$BACKUP.AGE.HIGH}) are written as they are, in single quotes.
# shellcheck disable=SC2016
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql zabbix-frontend-php"
diagnose() { sql "SELECT description, value, error FROM triggers WHERE flags = 4"; }
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"
api() { "$sandbox" api "$1" "$2"; }

# Each version gets the export in its own format: 6.0's groups, 7.0's template groups.
file=backup-monitor.yaml
[ "${BM_ZABBIX_VERSION:-6.0}" = 6.0 ] || file=backup-monitor-${BM_ZABBIX_VERSION}.yaml
template=$("$sandbox" import-template "$root/templates/$file") || fail "the template was not imported"
group=$(api hostgroup.create '{"name":"Backups de teste"}' | jq -r '.groupids[0]')
new_host() {  # new_host NAME MACROS
  api host.create "$(jq -nc --arg host "$1" --arg group "$group" --arg template "$template" \
    --argjson macros "$2" '{host: $host, groups: [{groupid: $group}],
    templates: [{templateid: $template}], macros: $macros}')" >/dev/null
}
# backup-server's windows are short, so that the end of its collection shows within the test:
# the host's problem after at most about two minutes, each device's a minute later.
new_host backup-server '[{"macro":"{$BACKUP.COLLECT.WINDOW}","value":"30s"},
                         {"macro":"{$BACKUP.NODATA}","value":"180s"}]'
new_host backup-huawei '[]'
"$sandbox" reload

now=$(date +%s)
dir=$tmp/routers
mkdir "$dir"
touch -d "@$((now - 10 * 86400))" "$dir/old-router"     # above {$BACKUP.AGE.HIGH}
touch -d "@$((now - 3 * 86400))" "$dir/late-router"     # above {$BACKUP.AGE.WARN} only
touch -d "@$((now - 3600))" "$dir/fresh-router"
touch -d "@$((now + 86400))" "$dir/future-router"       # a clock is wrong

# Names dated today and tomorrow, on files an hour old: only the name is ahead.
huawei=$tmp/huawei
mkdir "$huawei"
touch -d "@$((now - 3600))" "$huawei/$(date +%F).cfg.named-today.cfg" \
  "$huawei/$(date -d tomorrow +%F).cfg.named-ahead.cfg"

for pair in "$dir backup-server" "$huawei backup-huawei"; do
  read -r from to <<<"$pair"
  out=$("$agent" descobertaBackups "$from" 127.0.0.1 "$to")
  [ "$out" = OK ] || fail "discovery to $to printed: $out"
done
discovered="SELECT count(*) FROM items i JOIN hosts h USING (hostid)
            WHERE h.host LIKE 'backup-%' AND i.flags = 4"
# Per device: its age, its content's health and the size, completeness and digest taken from it;
# five triggers on the age (its name's date among them), five on the health.
wait_for "discovered items" "$discovered" 30
wait_for "discovered triggers" "SELECT count(*) FROM triggers WHERE flags = 4" 66
"$sandbox" reload

for pair in "$dir backup-server" "$huawei backup-huawei"; do
  read -r from to <<<"$pair"
  out=$("$agent" coletarData "$from" 127.0.0.1 "$to")
  [ -z "$out" ] || fail "collection to $to printed: $out"
done
wait_for "ages in history" "$ages" 6

state() {  # state KEY-PARAMETER TRIGGER-NAME: 0 OK, 1 PROBLEM
  sql "SELECT t.value FROM triggers t WHERE t.flags = 4
       AND t.description = '$2'
       AND EXISTS (SELECT 1 FROM functions f JOIN items i USING (itemid)
                   WHERE f.triggerid = t.triggerid AND i.key_ = 'ultimaModificacao[$1]')"
}
future='Backup de {#NOME_HOST} datado no futuro'
# Discovered triggers keep user macros in their names; they are resolved only on display.
state_is() { [ "$(state "$1" "$2")" = "$3" ]; }
expect() {  # expect KEY-PARAMETER PROTOTYPE-NAME VALUE
  local name=${2//\{#NOME_HOST\}/$1}
  wait_until 10 "" state_is "$1" "$name" "$3" 2>/dev/null ||
    fail "trigger '$name' is $(state "$1" "$name"), wanted $3"
}
expect OLD-ROUTER 'Backup de {#NOME_HOST} com mais de {$BACKUP.AGE.HIGH}' 1
# The warning depends on the high trigger: only one of the two shows.
expect OLD-ROUTER 'Backup de {#NOME_HOST} com mais de {$BACKUP.AGE.WARN}' 0
expect LATE-ROUTER 'Backup de {#NOME_HOST} com mais de {$BACKUP.AGE.WARN}' 1
expect LATE-ROUTER 'Backup de {#NOME_HOST} com mais de {$BACKUP.AGE.HIGH}' 0
expect FRESH-ROUTER 'Backup de {#NOME_HOST} com mais de {$BACKUP.AGE.WARN}' 0
expect FRESH-ROUTER 'Backup de {#NOME_HOST} com mais de {$BACKUP.AGE.HIGH}' 0
expect FRESH-ROUTER "$future" 0
expect FUTURE-ROUTER "$future" 1
expect OLD-ROUTER "$future" 0
ahead='Backup de {#NOME_HOST} com nome datado depois de hoje'
expect NAMED-AHEAD "$ahead" 1
expect NAMED-TODAY "$ahead" 0
# A file from the future has its own problem, not this one too.
expect FUTURE-ROUTER "$ahead" 0

# Names that stay the same from day to day, and the age beside each problem.
[ "$(sql "SELECT name FROM items WHERE key_ = 'ultimaModificacao[OLD-ROUTER]'")" = \
  'Idade do backup de OLD-ROUTER' ] || fail "the item's name carries more than the device"
[ "$(sql "SELECT count(*) FROM triggers WHERE flags = 4 AND opdata LIKE '%{ITEM.LASTVALUE}'")" = 48 ] ||
  fail "triggers without the age as operational data"

# While ages arrive, backup-server's count of them has values and its collection problem is off.
# The count looks 30 s back every 30 s: ages are delivered until one count has seen them.
counted="SELECT count(*) FROM history_uint h JOIN items i USING (itemid) JOIN hosts o USING (hostid)
         WHERE o.host = 'backup-server' AND i.key_ = 'coletasRecentes' AND h.value > 0"
counted_now() { [ "$(sql "$counted")" -ge 1 ]; }
counted_round() {
  "$agent" coletarData "$dir" 127.0.0.1 backup-server >/dev/null && wait_until 10 "" counted_now
}
wait_until 120 "" counted_round 2>/dev/null || fail "the host's count of ages has no value"
last_age=$(date +%s)
collection="SELECT DISTINCT t.value FROM triggers t JOIN functions f USING (triggerid)
            JOIN items i USING (itemid) JOIN hosts o USING (hostid)
            WHERE o.host = 'backup-server' AND i.key_ = 'coletasRecentes'"
wait_until 60 "" sql_is "$collection" 0 2>/dev/null || fail "the collection problem is on while ages arrive"

# No more ages for backup-server: its one problem comes, and when each device's own window has
# passed too (three minutes and the timer's 30 s), none of theirs.
stopped="SELECT count(*) FROM problem WHERE name = 'Coleta de backups parada em backup-server'"
wait_until 180 "" sql_is "$stopped" 1 2>/dev/null || fail "no problem for the stopped collection"
passed() { [ "$(date +%s)" -gt "$1" ]; }
wait_until 300 "" passed $((last_age + 180 + 45))
problems=$(sql "SELECT name FROM problem ORDER BY name")
expected_problems='Backup de FUTURE-ROUTER datado no futuro
Backup de LATE-ROUTER com mais de 2d
Backup de NAMED-AHEAD com nome datado depois de hoje
Backup de OLD-ROUTER com mais de 7d
Coleta de backups parada em backup-server'
[ "$problems" = "$expected_problems" ] || fail "problems: $problems"
echo "template works: $(wc -l <<<"$problems") problems"
