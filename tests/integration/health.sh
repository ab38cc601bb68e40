#!/bin/bash
# The health report against a real Zabbix with the shipped template: each device's content
# delivered, its size and digest taken out by the dependent items, and the problems of an empty,
# a shrunk, an unreadable, a cut zip and (given a last-line pattern) a cut text backup raised,
# none for a sound one, text or zip.
#   health.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql zabbix-frontend-php"
diagnose() {
  sql "SELECT i.key_, r.error FROM items i JOIN item_rtdata r USING (itemid)
       WHERE i.flags = 4 AND r.error <> ''"
  sql "SELECT description, value, error FROM triggers WHERE flags = 4 AND (value = 1 OR error <> '')"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"

dir=$tmp/routers
mkdir "$dir"
printf 'hostname sound\ninterface ge-0/0/0\n' >"$dir/sound"
: >"$dir/empty"
head -c 4000 /dev/zero | tr '\0' x >"$dir/shrunk"
mkdir "$dir/unreadable"  # root reads any file: a directory is what the run cannot read
for port in $(seq 1 400); do printf 'interface ge-0/0/%s\n description port %s\n' "$port" "$port"; done \
  >"$tmp/running.cfg"
(cd "$tmp" && zip -q sound.zip running.cfg)
cp "$tmp/sound.zip" "$dir/soundzip"
head -c "$(($(wc -c <"$tmp/sound.zip") / 2))" "$tmp/sound.zip" >"$dir/cutzip"
head -c 3000 "$tmp/running.cfg" >"$dir/cuttext"  # a transfer cut short in the middle of a line

out=$("$agent" descobertaBackups "$dir" 127.0.0.1 backups)
[ "$out" = OK ] || fail "discovery printed: $out"
wait_for "health items" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'saudeBackup%'" 28
# Triggers are made after the items; values that come before they reach the server's cache would
# be evaluated by none.
wait_for "discovered triggers" "SELECT count(*) FROM triggers WHERE flags = 4" 77
"$sandbox" reload

collect() {
  out=$("$agent" coletarSaude "$dir" 127.0.0.1 backups) # LAST_LINE, if set, comes from the caller
  [ -z "$out" ] || fail "the health report printed: $out"
}
sizes="SELECT count(*) FROM history_uint h JOIN items i USING (itemid)
       WHERE i.key_ LIKE 'saudeBackup.bytes[%'"
# The server's preprocessing may take the first values after new dependent items without them:
# deliver until the sizes are taken out (none for the unreadable backup).
sizes_taken() { [ "$(sql "$sizes")" -ge 6 ]; }
sized_round() { collect && wait_until 5 "" sizes_taken 2>/dev/null; }
wait_until 60 "" sized_round 2>/dev/null || fail "sizes, first round: have $(sql "$sizes")"
[ "$(sql "$sizes")" = 6 ] || fail "sizes, first round: wanted 6, have $(sql "$sizes")"
head -c 1000 /dev/zero | tr '\0' x >"$dir/shrunk"  # a transfer cut short
collect
wait_for "sizes, second round" "$sizes" 12

newest() {  # newest TABLE KEY
  sql "SELECT h.value FROM $1 h JOIN items i USING (itemid) WHERE i.key_ = '$2'
       ORDER BY h.clock DESC, h.ns DESC LIMIT 1"
}
expect_value() {  # expect_value TABLE KEY VALUE
  [ "$(newest "$1" "$2")" = "$3" ] || fail "$2 is '$(newest "$1" "$2")', wanted '$3'"
}
expect_value history_uint 'saudeBackup.bytes[SOUND]' "$(wc -c <"$dir/sound")"
expect_value history_str 'saudeBackup.sha256[SOUND]' "$(sha256sum <"$dir/sound" | cut -d' ' -f1)"
expect_value history_uint 'saudeBackup.bytes[EMPTY]' 0
expect_value history_uint 'saudeBackup.bytes[SHRUNK]' 1000
expect_value history_text 'saudeBackup[UNREADABLE]' '{"bytes":0,"error":"não é um arquivo regular"}'
expect_value history_str 'saudeBackup.completude[SOUNDZIP]' completo
expect_value history_str 'saudeBackup.completude[CUTZIP]' "zip cortado no membro 'running.cfg'"
expect_value history_str 'saudeBackup.completude[CUTTEXT]' completo  # no pattern yet
# The digest is kept when it changes, not on every value.
[ "$(sql "SELECT count(*) FROM history_str h JOIN items i USING (itemid)
          WHERE i.key_ = 'saudeBackup.sha256[SOUND]'")" = 1 ] || fail "an unchanged digest was kept twice"

# The devices' problems: no age is delivered here, so the host's collection problem may come too,
# as the template means it to.
wait_for "problems" "SELECT count(*) FROM problem WHERE name LIKE 'Backup de %'" 4

# With a pattern for the last line, the text cut short is incomplete too. The empty backup has no
# line either, but emptiness is its own problem, not a second one.
BACKUP_MONITOR_LAST_LINE='^(interface .*|x+)$' collect
wait_for "problems with a last-line pattern" \
  "SELECT count(*) FROM problem WHERE name LIKE 'Backup de %'" 5
expect_value history_str 'saudeBackup.completude[EMPTY]' completo
expect_value history_str 'saudeBackup.completude[CUTTEXT]' \
  "última linha '$(tail -n 1 "$dir/cuttext")' não confere com BACKUP_MONITOR_LAST_LINE"
problems=$("$sandbox" api problem.get '{"output":["name","severity"]}' |
  jq -r '.[] | select(.name | startswith("Backup de ")) | "\(.name)|\(.severity)"' |
  LC_ALL=C sort)
expected_problems='Backup de CUTTEXT incompleto|4
Backup de CUTZIP incompleto|4
Backup de EMPTY vazio (menos de 1 bytes)|4
Backup de SHRUNK encolheu para menos de 50% do maior em 7d|2
Backup de UNREADABLE ilegível|4'
[ "$problems" = "$expected_problems" ] || fail "problems: $problems"
echo "health works: $(wc -l <<<"$problems") problems"
