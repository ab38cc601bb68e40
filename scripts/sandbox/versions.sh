# shellcheck shell=bash
# Which Zabbix and where: 6.0 from Debian 12's own packages, or 7.0 from Debian 13's in a chroot
# built once with debootstrap from the mirror the machine's apt sources name, kept under
# /var/cache/backup-monitor between runs (BM_ZABBIX_ROOT). PostgreSQL is the machine's own.

version=${BM_ZABBIX_VERSION:-6.0}
release=$(. /etc/os-release && echo "${VERSION_ID:-unknown}")
case "$release" in
  12) php=8.2 pg=15 ;;
  13) php=8.4 pg=17 ;;
  *) echo "zabbix-sandbox: Debian $release is not known here (12 and 13 are)" >&2; exit 2 ;;
esac
root=""
case "$version" in
  6.0)
    if [ "$release" != 12 ]; then
      echo "zabbix-sandbox: Zabbix 6.0 comes from Debian 12's packages; here use 7.0" >&2
      exit 2
    fi
    dir=${BM_SANDBOX_DIR:-/var/tmp/backup-monitor-sandbox}
    template_file=$here/../templates/backup-monitor.yaml
    ;;
  7.0)
    root=${BM_ZABBIX_ROOT:-/var/cache/backup-monitor/zabbix-7.0}
    dir=$root/sandbox
    template_file=$here/../templates/backup-monitor-7.0.yaml
    ;;
  *) echo "zabbix-sandbox: no Zabbix $version here (6.0 or 7.0)" >&2; exit 2 ;;
esac
packages="postgresql zabbix-server-pgsql procps zabbix-frontend-php php$php-cgi php$php-cli
          php$php-pgsql php$php-bcmath php$php-mbstring php$php-gd php$php-xml curl jq sqlite3
          util-linux debootstrap socat zip"

# Mounts below the chroot that a killed run left behind (a release check's source tree, /dev,
# /proc), undone, deepest first, before the chroot is used again: a bind of a source tree that
# has gone since makes every later bind there fail. Mount points come as the kernel writes them
# in mountinfo, blanks as octal escapes.
undo_stale_mounts() {
  local mountpoint
  [ -n "$root" ] && [ -r /proc/self/mountinfo ] || return 0
  awk -v under="$root/" 'index($5, under) == 1 { print $5 }' /proc/self/mountinfo | sort -r |
    while read -r mountpoint; do umount -l "$(printf '%b' "$mountpoint")" 2>/dev/null || true; done
}

# The 7.0 chroot, once: Debian 13's server, frontend and PHP (minutes, the first time).
build_root() {
  undo_stale_mounts
  [ -z "$root" ] || [ -x "$root/usr/sbin/zabbix_server" ] && return 0
  local mirror
  mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
  [ -n "$mirror" ] ||
    mirror=$(awk '$1 == "deb" && $0 !~ /security/ { print $2; exit }' /etc/apt/sources.list)
  echo "zabbix-sandbox: building the Zabbix 7.0 chroot from $mirror (once)"
  rm -rf "$root.partial"
  mkdir -p "$(dirname "$root")"
  if ! debootstrap --variant=minbase \
    --include=zabbix-server-pgsql,zabbix-frontend-php,php8.4-cli,php8.4-pgsql,php8.4-bcmath,php8.4-mbstring,php8.4-gd,php8.4-xml,locales \
    trixie "$root.partial" "$mirror" >"$root.log" 2>&1; then
    echo "zabbix-sandbox: debootstrap failed; see $root.log" >&2
    tail -n 5 "$root.log" >&2
    return 1
  fi
  mv "$root.partial" "$root"
}

# The 7.0 frontend wants its language's locale where it runs, or every page carries a banner
# saying that it is missing; chroots built before locales were included get them here.
root_locale() {
  [ -n "$root" ] || return 0
  chroot "$root" locale -a 2>/dev/null | grep -qx 'en_GB.utf8' && return 0
  chroot "$root" sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq locales' >/dev/null
  sed -i 's/^# *\(en_GB.UTF-8 UTF-8\)/\1/' "$root/etc/locale.gen"
  chroot "$root" locale-gen >/dev/null
}
