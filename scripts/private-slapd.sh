# Sourced by the demo, soak and benchmark scripts: a private OpenLDAP slapd
# in a work directory, on 127.0.0.1 at a free port, stopped by its pid.
#
#   slapd_conf WORK ROOTDN MAXSIZE [GLOBAL_LINE]
#       writes WORK/slapd.conf for dc=example,dc=com (password "secret");
#       GLOBAL_LINE (e.g. "sizelimit unlimited") goes before the database.
#       Database lines such as indexes may be appended to the file after it.
#   slapd_start WORK LDIF [ldaps]
#       loads LDIF, starts slapd in the foreground from port 3890 upwards and
#       waits until it answers; sets slapd_pid and slapd_port. With "ldaps"
#       it also listens for LDAPS on the next free port, slapd_ldaps_port
#       (the TLS lines must be in slapd.conf). slapd_log_level (default 0)
#       is slapd's -d level; the log is WORK/slapd.log. Returns 1 (its log on
#       stderr) when it cannot start.

# slapd and slapadd live in sbin, which is not always on PATH.
PATH=$PATH:/usr/sbin

slapd_conf() {
  local work=$1 rootdn=$2 maxsize=$3 global=${4:-}
  mkdir -p "$work/db"
  cat >"$work/slapd.conf" <<CONF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile $work/slapd.pid
argsfile $work/slapd.args
$global
database mdb
maxsize $maxsize
suffix "dc=example,dc=com"
rootdn "$rootdn"
rootpw secret
directory $work/db
CONF
}

slapd_answers() {
  ldapsearch -x -H "ldap://127.0.0.1:$1" -b "" -s base >/dev/null 2>&1
}

# The first port from $1 upwards where nothing answers.
free_port() {
  local port=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  echo "$port"
}

slapd_start() {
  local work=$1 ldif=$2 ldaps=${3:-} port=3890 urls
  slapadd -q -f "$work/slapd.conf" -l "$ldif"
  for _ in 1 2 3 4 5; do
    port=$(free_port "$port")
    urls="ldap://127.0.0.1:$port/"
    if [ "$ldaps" = ldaps ]; then
      slapd_ldaps_port=$(free_port $((port + 1)))
      urls="$urls ldaps://127.0.0.1:$slapd_ldaps_port/"
    fi
    # -d keeps slapd in the foreground: its pid is ours to stop.
    slapd -f "$work/slapd.conf" -h "$urls" -d "${slapd_log_level:-0}" >"$work/slapd.log" 2>&1 &
    slapd_pid=$! slapd_port=$port
    for _ in $(seq 100); do
      slapd_answers "$port" && return 0
      kill -0 "$slapd_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$slapd_pid" 2>/dev/null || true
    wait "$slapd_pid" 2>/dev/null || true
    slapd_pid= port=$((port + 1))
  done
  cat "$work/slapd.log" >&2
  return 1
}
