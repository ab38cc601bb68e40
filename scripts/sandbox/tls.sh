# shellcheck shell=bash
# The standalone server started again with a certificate, for hosts that accept only
# certificates; its trapper still takes plain connections for the hosts that allow them.

tls_start() {  # tls_start CA_FILE CERT_FILE KEY_FILE (PEM)
  # Copied where the server sees them, in the chroot too.
  mkdir -p "$dir/tls"
  cp "$1" "$dir/tls/ca.crt"
  cp "$2" "$dir/tls/server.crt"
  cp "$3" "$dir/tls/server.key"
  chmod 600 "$dir/tls/server.key"
  local at
  at=$(inner "$dir/tls")
  stop_daemon "$dir/zabbix_server.pid"
  start_server "TLSCAFile=$at/ca.crt" "TLSCertFile=$at/server.crt" "TLSKeyFile=$at/server.key"
  echo "zabbix-sandbox: Zabbix on 127.0.0.1:10052 with the certificate $2"
}
