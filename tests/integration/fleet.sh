#!/bin/bash
# What a fleet must not miss, against a real Zabbix with the shipped template: a device merged
# with another by its name raises its problem with the files' names beside it, an unreadable
# backup shows why, and a directory emptied at once (an unmounted share) raises its own problem
# instead of silence; and a discovery of 2,000 devices leaves the server running with all of them.
#   fleet.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql zabbix-frontend-php"
diagnose() {
  sql "SELECT description, value, error FROM triggers WHERE value = 1 OR error <> ''"
  sql "SELECT name FROM problem"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"

dir=$tmp/backups-huawei
mkdir "$dir"
today=$(date +%F)
stale=$(date -d '12 days ago' +%F)
poa=$today.cfg.sw01.poa.example.net.cfg
sao=$stale.cfg.sw01.sao.example.net.cfg
echo "hostname sw01-poa" >"$dir/$poa"
echo "hostname sw01-sao" >"$dir/$sao"
echo "hostname core-sw1" >"$dir/$today.cfg.core-sw1.cfg"
mkdir "$dir/$today.cfg.unreadable"

out=$("$agent" descobertaBackups "$dir" 127.0.0.1 backups)
[ "$out" = OK ] || fail "discovery printed: $out"
wait_for "discovered health" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'saudeBackup[%'" 3
wait_for "discovered triggers" "SELECT count(*) FROM triggers WHERE flags = 4" 33
"$sandbox" reload

# The server's preprocessing may take the first values after new dependent items without them:
# deliver until the problems come.
problems="SELECT count(*) FROM problem WHERE name LIKE 'Backup de %'"
two_problems() { [ "$(sql "$problems")" -ge 2 ]; }
health_round() {
  out=$("$agent" coletarSaude "$dir" 127.0.0.1 backups)
  [ -z "$out" ] || fail "the health report printed: $out"
  wait_until 5 "" two_problems 2>/dev/null
}
wait_until 60 "" health_round 2>/dev/null || fail "problems: have $(sql "$problems")"
seen=$("$sandbox" api problem.get '{"output":["name","opdata","severity"]}' |
  jq -r '.[] | select(.name | startswith("Backup de ")) | "\(.name)|\(.severity)|\(.opdata)"' |
  LC_ALL=C sort)
expected="Backup de SW01 junta equipamentos de nomes diferentes|3|Arquivos: \"$sao\",\"$poa\"
Backup de UNREADABLE ilegível|4|Leitura: não é um arquivo regular"
[ "$seen" = "$expected" ] || fail "problems: $seen"

# The share goes away: the collection finds nothing, and says so.
out=$("$agent" coletarData "$dir" 127.0.0.1 backups)
[ -z "$out" ] || fail "the collection printed: $out"
mkdir "$tmp/elsewhere"
mv "$dir"/* "$tmp/elsewhere"
out=$("$agent" coletarData "$dir" 127.0.0.1 backups)
[ -z "$out" ] || fail "the collection of the empty directory printed: $out"
wait_for "the empty directory's problem" \
  "SELECT count(*) FROM problem WHERE name = 'Diretório de backups de backups vazio'" 1
# A fleet's discovery: 2,000 devices made into items and triggers, the server still running.
fleet=$tmp/fleet-huawei
mkdir "$fleet"
for i in $(seq -w 1 2000); do : >"$fleet/$today.cfg.fleet$i.cfg"; done
out=$("$agent" descobertaBackups "$fleet" 127.0.0.1 backups)
[ "$out" = OK ] || fail "the fleet's discovery printed: $out"
fleet_items="SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[FLEET%'"
fleet_triggers="SELECT count(*) FROM triggers t WHERE flags = 4 AND EXISTS (SELECT 1 FROM functions f
                JOIN items i USING (itemid) WHERE f.triggerid = t.triggerid AND i.key_ LIKE '%[FLEET%')"
wait_until 120 "" sql_is "$fleet_items" 2000 2>/dev/null || fail "the fleet's items: $(sql "$fleet_items")"
wait_until 120 "" sql_is "$fleet_triggers" 22000 2>/dev/null ||
  fail "the fleet's triggers: $(sql "$fleet_triggers")"
"$sandbox" reload
"$sandbox" status >/dev/null || fail "the server did not survive the fleet's discovery"
echo "the fleet's problems come: $(wc -l <<<"$seen") for the devices, 1 for the directory;" \
  "2,000 devices discovered"
