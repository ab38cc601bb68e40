#!/bin/bash
# Encrypted delivery, real: the host "backups" accepts only PSK, then only certificates. The
# agent's plain values are dropped, its encrypted ones reach history; a wrong key, a server
# certificate from an unknown CA or with another subject, and an agent certificate the server
# does not trust each fail the attempt with the retry line.
#   tls.sh AGENT SOURCE_DIR
set -euo pipefail
agent=$1
root=$2
packages="zabbix-server-pgsql openssl"
diagnose() {
  sql "SELECT host, tls_connect, tls_accept, tls_issuer, tls_subject FROM hosts WHERE host = 'backups'"
  tail -n 15 "$("$sandbox" dir)/zabbix_server.log"
}
# shellcheck source=sandbox_test_lib.sh
. "$(dirname "$0")/sandbox_test_lib.sh"

# A CA the server trusts, another one it does not, and certificates signed by each.
pki=$tmp/pki
mkdir "$pki"
new_ca() {  # new_ca NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "$2" \
    -keyout "$pki/$1.key" -out "$pki/$1.crt" 2>/dev/null
}
issue() {  # issue NAME SUBJECT CA
  openssl req -new -newkey rsa:2048 -nodes -subj "$2" -keyout "$pki/$1.key" \
    -out "$pki/$1.csr" 2>/dev/null
  openssl x509 -req -in "$pki/$1.csr" -CA "$pki/$3.crt" -CAkey "$pki/$3.key" -CAcreateserial \
    -days 2 -out "$pki/$1.crt" 2>/dev/null
  chmod 600 "$pki/$1.key"
}
new_ca ca "/C=BR/O=Rede/CN=Backups test CA"
new_ca other-ca "/C=BR/O=Rede/CN=Unknown CA"
issue server "/C=BR/O=Rede/CN=Zabbix sandbox" ca
issue agent "/C=BR/O=Rede/CN=backup-monitor" ca
issue stranger "/C=BR/O=Rede/CN=backup-monitor" other-ca
"$sandbox" tls-start "$pki/ca.crt" "$pki/server.crt" "$pki/server.key" >/dev/null

dir=$tmp/routers
mkdir "$dir"
for name in router1 router2 router3; do touch -d @1700000000 "$dir/$name"; done
hostid=$(sql "SELECT hostid FROM hosts WHERE host = 'backups'")
history=$ages
encrypt() {  # encrypt SETTINGS: the host's encryption, as the frontend's Encryption tab sets it
  "$sandbox" api host.update "$(jq -c --arg id "$hostid" '. + {hostid: $id, tls_connect: 1}' <<<"$1")" >/dev/null
  "$sandbox" reload
}
retry="Falha no envio ao Zabbix: 127.0.0.1 - Tentativa número 1, tentando novamente em 5 segundos."
# refused DESCRIPTION VARIABLE=VALUE...: the first attempt fails; the run is ended in its pause.
refused() {
  local what=$1 out
  shift
  out=$(env "$@" timeout 2 "$agent" coletarData "$dir" 127.0.0.1 backups) && fail "$what: ended"
  [ "$out" = "$retry" ] || fail "$what printed: $out"
}

psk=$tmp/psk.key
openssl rand -hex 32 >"$psk"
chmod 600 "$psk"
encrypt "$(jq -nc --rawfile psk "$psk" '{tls_accept: 2, tls_psk_identity: "backups-psk", tls_psk: ($psk | rtrimstr("\n"))}')"
out=$("$agent" descobertaBackups "$dir" 127.0.0.1 backups)
[[ $out == "Zabbix recusou o valor: 127.0.0.1 - host 'backups', item 'descobertaBackups': processed: 0; failed: 1;"*$'\nOK' ]] ||
  fail "a plain discovery to a PSK-only host printed: $out"
[ "$(sql "SELECT count(*) FROM items WHERE flags = 4")" = 0 ] || fail "a plain value was taken"

with_psk=(ZBX_TLSCONNECT=psk ZBX_TLSPSKIDENTITY=backups-psk ZBX_TLSPSKFILE="$psk")
out=$(env "${with_psk[@]}" "$agent" descobertaBackups "$dir" 127.0.0.1 backups)
[ "$out" = OK ] || fail "discovery over PSK printed: $out"
wait_for "items discovered over PSK" "SELECT count(*) FROM items WHERE flags = 4 AND key_ LIKE 'ultimaModificacao[%'" 3
"$sandbox" reload
out=$(env "${with_psk[@]}" "$agent" coletarData "$dir" 127.0.0.1 backups)
[ -z "$out" ] || fail "collection over PSK printed: $out"
wait_for "ages delivered over PSK" "$history" 3

wrong=$tmp/wrong.key
openssl rand -hex 32 >"$wrong"
chmod 600 "$wrong"
refused "a wrong PSK" ZBX_TLSCONNECT=psk ZBX_TLSPSKIDENTITY=backups-psk ZBX_TLSPSKFILE="$wrong"

# The server compares the agent's issuer and subject as RFC 4514 text, most specific part first.
encrypt '{"tls_accept":4,"tls_issuer":"CN=Backups test CA,O=Rede,C=BR","tls_subject":"CN=backup-monitor,O=Rede,C=BR"}'
with_cert=(ZBX_TLSCONNECT=cert ZBX_TLSCAFILE="$pki/ca.crt" ZBX_TLSCERTFILE="$pki/agent.crt"
  ZBX_TLSKEYFILE="$pki/agent.key")
out=$(env "${with_cert[@]}" ZBX_TLSSERVERCERTISSUER="CN=Backups test CA,O=Rede,C=BR" \
  ZBX_TLSSERVERCERTSUBJECT="CN=Zabbix sandbox,O=Rede,C=BR" "$agent" coletarData "$dir" 127.0.0.1 backups)
[ -z "$out" ] || fail "collection with certificates printed: $out"
wait_for "ages delivered with certificates" "$history" 6

refused "a server certificate from an unknown CA" "${with_cert[@]}" ZBX_TLSCAFILE="$pki/other-ca.crt"
refused "another server subject" "${with_cert[@]}" ZBX_TLSSERVERCERTSUBJECT="CN=Zabbix,O=Rede,C=BR"
refused "an agent certificate the server does not trust" "${with_cert[@]}" \
  ZBX_TLSCERTFILE="$pki/stranger.crt" ZBX_TLSKEYFILE="$pki/stranger.key"
# The server takes one connection at a time: a good run after the refused ones lands its three
# values alone, or a refused one had delivered.
out=$(env "${with_cert[@]}" "$agent" coletarData "$dir" 127.0.0.1 backups)
[ -z "$out" ] || fail "collection after the refusals printed: $out"
wait_for "ages delivered after the refusals" "$history" 9
out=$(env "${with_cert[@]}" BACKUP_MONITOR_BATCH=2 "$agent" coletarData "$dir" 127.0.0.1 backups)
[ -z "$out" ] || fail "batched collection with certificates printed: $out"
wait_for "ages delivered in requests of 2 with certificates" "$history" 12
echo "PSK and certificates: every value delivered, batched too, every refusal a failed attempt"
