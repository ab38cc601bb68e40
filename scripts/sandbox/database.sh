# shellcheck shell=bash
# The server's database: a private PostgreSQL cluster on 127.0.0.1:54329 (the machine's own
# PostgreSQL), loaded once with Zabbix's schema and the monitored host and saved; `restart` starts
# from a fresh copy of the saved one, `start` goes on with the one it left.

pgbin=/usr/lib/postgresql/$pg/bin
pgport=54329
host=backups

psql_zabbix() { psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$pgport" -U postgres "$@"; }
sql() { psql_zabbix -At -d zabbix -c "$1"; }

pg_start() {
  as_postgres "$pgbin/pg_ctl" -D "$dir/pg" -l "$dir/postgres.log" -w -s \
    -o "-p $pgport -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off" \
    start
}

pg_stop() {
  if [ -f "$dir/pg/postmaster.pid" ]; then
    as_postgres "$pgbin/pg_ctl" -D "$dir/pg" -m fast -w -s stop || true
  fi
}

# The stock templates and host cost the server most of its configuration sync: drop them, and
# the map elements that pointed at the stock host. 7.0's schema no longer cascades those deletes:
# there the stock host is only disabled, so that it collects nothing. The frontend shows no banner
# about a missing locale when its language is en_GB, which needs none on the machine.
drop_stock() {
  if [ "$version" = 7.0 ]; then
    sql "UPDATE hosts SET status = 1 WHERE host = 'Zabbix server';
         UPDATE config SET default_lang = 'en_GB';"
    return 0
  fi
  sql "DELETE FROM optemplate; DELETE FROM lld_override_optemplate; DELETE FROM graphs;
       DELETE FROM host_discovery; DELETE FROM hosts WHERE flags = 2;
       DELETE FROM hosts WHERE status = 3 OR host = 'Zabbix server';
       DELETE FROM sysmaps_elements WHERE elementtype = 0;
       UPDATE config SET default_lang = 'en_GB';"
}

# The monitored host, as the deployment guide makes it: the shipped template imported through the
# frontend's API and linked to a host in a group of its own.
create_host() {
  local template group
  template=$(import_template "$template_file")
  group=$(api_call hostgroup.create '{"name":"Backups"}' | jq -r '.groupids[0]')
  api_call host.create "$(jq -nc --arg host "$host" --arg group "$group" --arg template "$template" \
    '{host: $host, groups: [{groupid: $group}], templates: [{templateid: $template}]}')" >/dev/null
}

# What the saved database was made from; another script or template makes a new one.
database_stamp() { cat "$0" "$here"/sandbox/*.sh "$template_file" | sha1sum | cut -d' ' -f1; }

create_database() {
  echo "zabbix-sandbox: creating the database (once)"
  rm -rf "$dir/pg" "$dir/pg.loaded"
  as_postgres "$pgbin/initdb" -D "$dir/pg" -U postgres -A trust -E UTF8 --locale=C.UTF-8 \
    >/dev/null
  pg_start
  psql_zabbix -d postgres -c "CREATE DATABASE zabbix ENCODING 'UTF8' TEMPLATE template0"
  for part in schema images data; do
    zcat "$root/usr/share/zabbix-server-pgsql/$part.sql.gz" | psql_zabbix -d zabbix >/dev/null
  done
  drop_stock
  # Planner statistics, which autovacuum would gather only some time later: without them the
  # frontend's API plans some of its joins over triggers and their dependencies badly, and
  # linking the template to a new host took from under a second to over a minute by chance.
  psql_zabbix -d zabbix -c "ANALYZE" >/dev/null
  start_frontend
  create_host
  stop_frontend
  psql_zabbix -d zabbix -c "ANALYZE" >/dev/null
  pg_stop
  as_postgres cp -a "$dir/pg" "$dir/pg.loaded"
  database_stamp >"$dir/pg.loaded.stamp"
}

# database_start fresh|resume: PostgreSQL running on a fresh copy of the saved database, or on
# the one the sandbox last ran on (a fresh one if there is none, or the saved one is outdated).
database_start() {
  mkdir -p "$dir"
  chown postgres: "$dir"
  pg_stop
  if [ ! -d "$dir/pg.loaded" ] || [ "$(cat "$dir/pg.loaded.stamp" 2>/dev/null)" != "$(database_stamp)" ]; then
    create_database
  fi
  if [ "$1" = fresh ] || [ ! -f "$dir/pg/PG_VERSION" ]; then
    rm -rf "$dir/pg"
    as_postgres cp -a "$dir/pg.loaded" "$dir/pg"
  fi
  pg_start
}
