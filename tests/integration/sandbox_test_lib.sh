# shellcheck shell=bash
# shellcheck disable=SC2154  # root and packages are set by the test that sources this
# Shared by the tests against the Zabbix sandbox; sourced after setting agent, root and the
# packages the test needs. Skips where the sandbox cannot run, restarts it from a fresh database,
# and stops it at the end.

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the Zabbix sandbox needs root"
if [ "${BM_ZABBIX_VERSION:-6.0}" = 6.0 ] && [ "$(. /etc/os-release && echo "$VERSION_ID")" != 12 ]; then
  skip "Zabbix 6.0 comes from Debian 12's packages"
fi
for package in $packages; do
  # Read whole before matching: grep -q stops early, and pipefail would count that as a failure.
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  policy=$(apt-cache policy "$package" 2>/dev/null || true)
  if [[ $status != *"ok installed"* && ! $policy =~ Candidate:\ [0-9] ]]; then
    skip "the package $package is not available here"
  fi
done

sandbox=$root/scripts/zabbix-sandbox
if [ "${BM_ZABBIX_VERSION:-6.0}" != 6.0 ] && ! "$sandbox" build-root >/dev/null; then
  skip "the Zabbix ${BM_ZABBIX_VERSION} chroot cannot be built here (no debootstrap or no mirror)"
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; "$sandbox" stop' EXIT
"$sandbox" restart

sql() { "$sandbox" sql "$1"; }

# Says what went wrong, with what the test adds in diagnose(), and ends the test.
fail() {
  echo "FAILED: $*" >&2
  diagnose >&2 || true
  exit 1
}

# shellcheck source=../../scripts/sandbox/common.sh
. "$root/scripts/sandbox/common.sh"
sql_is() { [ "$(sql "$1")" = "$2" ]; }
# The devices' ages in history (the host's count of them goes elsewhere, as an integer); the
# tests that source this file read it.
# shellcheck disable=SC2034
ages="SELECT count(*) FROM history h JOIN items i USING (itemid) WHERE i.key_ LIKE 'ultimaModificacao[%'"
wait_for() {  # wait_for DESCRIPTION SQL EXPECTED: up to 30 s
  wait_until 30 "$1" sql_is "$2" "$3" 2>/dev/null || fail "$1: wanted $3, have $(sql "$2")"
}

# wait_proxy_items NAME ADDRESS COUNT: up to 30 s for the proxy to hold COUNT items, asked to
# fetch its configuration from the server at each try.
proxy_items_are() {
  "$sandbox" proxy-reload "$1"
  [ "$("$sandbox" stats "$2" 10053 | jq -r .data.items)" = "$3" ]
}
wait_proxy_items() {
  wait_until 30 "" proxy_items_are "$@" 2>/dev/null ||
    fail "the proxy $1 has $("$sandbox" stats "$2" 10053 | jq -r .data.items) items, not $3"
}
