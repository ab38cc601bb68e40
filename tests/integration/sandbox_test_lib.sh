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

wait_for() {  # wait_for DESCRIPTION SQL EXPECTED: up to 30 s
  for _ in $(seq 1 300); do
    [ "$(sql "$2")" = "$3" ] && return 0
    sleep 0.1
  done
  fail "$1: wanted $3, have $(sql "$2")"
}
