#!/usr/bin/env bash
# How long extern_book takes to fail over from a dead first server to the
# second: at start-up (from launch to the greeting) and inside a command
# (from writing a SEARCH whose connection was lost to its status line), for
# each way the first server can be dead. Prints one table per pair of
# settings.
#
#   bench/failover.sh [CONNECT_TIMEOUT/TIMEOUT ...]     (default: 20/30 2/2 5/3)
#
# Needs root, build/ built (scripts/test.sh), slapd, ldap-utils and
# iproute2. Everything runs in a private network and mount namespace
# (unshare -n -m): the machine's own network and /etc/hosts are untouched.
# Inside it, server A listens on 10.1.1.1 (an address of one end of a veth
# pair) and server B on 127.0.0.1, both at port 3890 with the same data, and
# the service is given "host A, B". Frames for fd00::2, and for 10.1.1.1 once
# that address is taken away, go out to a link address nobody has: SYNs to
# them get no answer at all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${FAILOVER_NAMESPACE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "failover: needs root (namespaces)" >&2; exit 2; }
  exec unshare -n -m env FAILOVER_NAMESPACE=1 "$0" "$@"
fi
bin=${BIN:-$root/build/addressbook/extern_book}
[ -x "$bin" ] || { echo "failover: $bin is missing: build first" >&2; exit 2; }
. "$root/scripts/private-slapd.sh"
port=3890 dead_mac=02:00:00:00:00:02

work=$(mktemp -d /tmp/extern-book-failover-XXXXXX)
declare -A pid
cleanup() {
  for p in "${pid[@]}"; do kill -CONT "$p" 2>/dev/null || true; kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
ip link add fo0 type veth peer name fo1
ip link set fo0 up
ip link set fo1 up
ip addr add 10.1.1.254/24 dev fo0
ip addr add 10.1.1.1/32 dev fo0
ip -6 addr add fd00::1/64 dev fo0 nodad
ip neigh add 10.1.1.2 lladdr $dead_mac dev fo0 nud permanent
ip -6 neigh add fd00::2 lladdr $dead_mac dev fo0 nud permanent
# dir-a.test: a dead IPv6 address, which the resolver sorts first, then A's.
printf '127.0.0.1 localhost\nfd00::2 dir-a.test\n10.1.1.1 dir-a.test\n' >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts
echo "dir-a.test resolves to: $(getent ahosts dir-a.test | awk '/STREAM/ {print $1}' | xargs)"

for name in a b; do
  slapd_conf "$work/$name" "cn=Manager,dc=example,dc=com" 268435456
  slapadd -q -f "$work/$name/slapd.conf" -l "$root/data/sample.ldif"
done
address_a=10.1.1.1 address_b=127.0.0.1

start_slapd() {  # NAME: starts that server and waits until it answers
  local name=$1 address_var=address_$1
  slapd -f "$work/$name/slapd.conf" -h "ldap://${!address_var}:$port/" -d 0 >>"$work/$name/log" 2>&1 &
  pid[$name]=$!
  for _ in $(seq 100); do
    ldapsearch -x -H "ldap://${!address_var}:$port" -b "" -s base >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  cat "$work/$name/log" >&2
  exit 2
}
stop_slapd() {  # NAME: ends that server, running or stopped
  local p=${pid[$1]:-}
  [ -n "$p" ] || return 0
  kill -CONT "$p" 2>/dev/null || true
  kill "$p" 2>/dev/null || true
  wait "$p" 2>/dev/null || true
  unset "pid[$1]"
}

# Ways for A to die, and the way back.
refuse() { stop_slapd a; }
vanish() {
  stop_slapd a
  ip addr del 10.1.1.1/32 dev fo0
  ip neigh replace 10.1.1.1 lladdr $dead_mac dev fo0 nud permanent
}
hang() { stop_slapd a; start_slapd a; kill -STOP "${pid[a]}"; }
restart() { stop_slapd a; start_slapd a; }
revive() {
  stop_slapd a
  if ! ip -4 addr show dev fo0 | grep -q ' 10.1.1.1/32'; then
    ip neigh del 10.1.1.1 dev fo0
    ip addr add 10.1.1.1/32 dev fo0
  fi
  start_slapd a
}

micros() { echo "${EPOCHREALTIME/./}"; }
seconds_since() { local d=$(($(micros) - $1)); printf '%d.%02d' $((d / 1000000)) $((d % 1000000 / 10000)); }

# The service on host "$1, B", greeted; sets took to the seconds it took.
book_start() {
  cat >"$work/book.ini" <<INI
host $1, $address_b:$port
port $port
manager_dn cn=Manager,dc=example,dc=com
manager_pass secret
base_dn ou=People,dc=example,dc=com
scope LDAP_SCOPE_SUBTREE
field surname STRING sn true
connect_timeout $connect_timeout
timeout $timeout
INI
  local start
  start=$(micros)
  coproc BOOK { cd "$work" && exec "$bin" book.ini 2>/dev/null; }
  book_status
  took=$(seconds_since "$start")
  [ "$status" = "+success LDAP External Address Book" ] || { echo "failover: start-up: $status" >&2; exit 1; }
}
book_status() {  # reads up to the next status line, into status
  status="(no reply)"
  local line
  while IFS= read -r -t 300 line <&"${BOOK[0]}"; do
    case $line in +success* | -failure*) status=$line; return 0 ;; esac
  done
}
book_search() {  # one SEARCH; sets took and status
  local start
  start=$(micros)
  echo "SEARCH AND 1-0 surname=Smith" >&"${BOOK[1]}"
  book_status
  took=$(seconds_since "$start")
}
book_end() {
  echo EXIT >&"${BOOK[1]}"
  wait "$BOOK_PID" || true
}

# One row: A dies by $kill; in a command (the service was connected to it),
# then at start-up. Both must be answered.
row() {
  local what=$1 first=$2 kill=$3 in_command startup
  book_start "$first"
  book_search
  $kill
  book_search
  in_command="$took ($status)"
  book_end
  book_start "$first"
  startup=$took
  book_search
  echo "| $what | $startup ($status) | $in_command |"
  book_end
  revive
}

settings=("$@")
[ $# -gt 0 ] || settings=(20/30 2/2 5/3)
start_slapd a
start_slapd b
for setting in "${settings[@]}"; do
  connect_timeout=${setting%/*} timeout=${setting#*/}
  echo
  echo "connect_timeout $connect_timeout, timeout $timeout (seconds)"
  echo
  echo "| first server | start-up (then a SEARCH) | in a command (its reply) |"
  echo "|---|---|---|"
  row "refuses (nothing listens)" "$address_a:$port" refuse
  row "unreachable (SYNs unanswered)" "$address_a:$port" vanish
  row "accepts, never answers" "$address_a:$port" hang
  row "a name: dead IPv6 address, then A refusing" "dir-a.test:$port" refuse
  row "a name: dead IPv6 address, then A serving" "dir-a.test:$port" restart
  # A hangs with the connection open: that command waits out one timeout
  # and is not repeated; the next one fails over.
  book_start "$address_a:$port"
  book_search
  kill -STOP "${pid[a]}"
  book_search
  hung="$took ($status)"
  book_search
  echo "| hangs, connection open: that command, then the next | - | $hung; $took ($status) |"
  book_end
  revive
done
