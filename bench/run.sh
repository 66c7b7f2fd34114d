#!/usr/bin/env bash
# Runs every benchmark and prints the tables: the micro-benchmarks, then the
# service against the libldap reference client on the same data in the same
# run, with the ratios service/reference of wall time and peak RSS (median
# of RUNS runs each) and whether both wrote identical replies; then the
# service's paged SEARCH against its unpaged one, the same way.
#
#   bench/run.sh [RUNS]          (default 5; PEOPLE=200000 people in the directory)
#
# Needs slapd, ldap-utils, libldap-dev and libbenchmark-dev; run by hand on
# a quiet machine, never in CI.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/private-slapd.sh
runs=${1:-5}
people=${PEOPLE:-200000}
build=build-bench

cmake -S bench -B "$build" -G Ninja >/dev/null
cmake --build "$build" >/dev/null
[ -x "$build/refclient" ] || { echo "bench: refclient needs libldap-dev (scripts/bench-deps.sh)" >&2; exit 2; }

work=$(mktemp -d /tmp/bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

echo "== micro-benchmarks"
"$build"/bench_micro --benchmark_min_time=0.5

# A private slapd with the generated people, sizelimit unlimited.
echo "== loading $people people into a private slapd"
bench/gen_ldif.sh "$people" >"$work/data.ldif"
slapd_conf "$work" "cn=Manager,dc=example,dc=com" 4294967296 "sizelimit unlimited"
cat >>"$work/slapd.conf" <<CONF
index objectClass eq
index departmentNumber eq
CONF
slapd_start "$work" "$work/data.ldif"
pids+=("$slapd_pid")
rm "$work/data.ldif"

# The configuration both clients read, for a server on the given port. The
# reference does not page: neither does the service here.
config() {
  cat >"$work/book.ini" <<INI
host 127.0.0.1
port $1
page_size 0
base_dn ou=People,dc=example,dc=com
scope LDAP_SCOPE_SUBTREE
manager_dn cn=Manager,dc=example,dc=com
manager_pass secret
field fullname STRING cn true
field email STRING mail true
field phone STRING telephoneNumber true
field group STRING departmentNumber true
field title STRING title false
INI
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# measure NAME COMMANDS [INI]: RUNS alternating runs of the service and the
# reference on the command file, both on book.ini; or, given INI, of the
# service on INI and the service on book.ini. One table row, in $row.
rows=()
measure() {
  local name=$1 commands=$2 ini=${3:-} who i start
  for who in service reference; do : >"$work/$who.times"; : >"$work/$who.rss"; done
  for i in $(seq "$runs"); do
    for who in service reference; do
      local program=$build/addressbook/extern_book config=$work/book.ini
      [ "$who" = service ] && [ -n "$ini" ] && config=$ini
      [ "$who" = reference ] && [ -z "$ini" ] && program=$build/refclient
      start=$EPOCHREALTIME
      /usr/bin/time -f %M -o "$work/rss" "$program" "$config" <"$commands" >"$work/$who.out" || true
      awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", b - a }' >>"$work/$who.times"
      tail -n 1 "$work/rss" >>"$work/$who.rss"  # after a line on the exit status
    done
  done
  local st rt sm rm same=yes
  st=$(median <"$work/service.times"); rt=$(median <"$work/reference.times")
  sm=$(median <"$work/service.rss"); rm=$(median <"$work/reference.rss")
  cmp -s "$work/service.out" "$work/reference.out" || same=NO
  [ "$same" = yes ] || diff "$work/service.out" "$work/reference.out" | head -5 >&2
  row=$(awk -v n="$name" -v st="$st" -v rt="$rt" -v sm="$sm" -v rm="$rm" -v s="$same" 'BEGIN {
    printf "%-28s %8.3f %8.3f %6.2f %9.1f %9.1f %6.2f  %s", n, st, rt, st / rt, sm / 1024, rm / 1024, sm / rm, s }')
  echo "$name: $(wc -l <"$work/service.out") reply lines" >&2
  last="$st $sm"
}

config "$slapd_port"
printf 'SEARCH AND 1-0 group=s\nEXIT\n' >"$work/search_s"
measure "(a) SEARCH 10,000, slapd" "$work/search_s"
rows+=("$row")
# The GETs name the first 1,000 people as SEARCH listed them.
{ sed -n '2,1001p' "$work/reference.out" | sed 's/,$//; s/^/GET /'; echo EXIT; } >"$work/gets"
measure "(c) 1,000 GET, slapd" "$work/gets"
rows+=("$row")

# Paged against unpaged, on slapd (whose size limit is lifted): the
# reference stands aside, the service on book.ini pages not.
printf 'SEARCH AND 1-0 group=m\nEXIT\n' >"$work/search_m"
paging=()
for size in 500 1000; do
  sed "s/^page_size 0$/page_size $size/" "$work/book.ini" >"$work/paged.ini"
  measure "(d) SEARCH 100,000, $size/page" "$work/search_m" "$work/paged.ini"
  paging+=("$row")
done

# Record what slapd answers each client's search, then replay it.
printf 'SEARCH AND 1-0 group=l\nEXIT\n' >"$work/search_l"
mkdir -p "$work/streams"
"$build"/replay record "$work/streams" "$work/record.port" "$slapd_port" &
pids+=("$!")
while [ ! -s "$work/record.port" ]; do sleep 0.05; done
config "$(cat "$work/record.port")"
for commands in search_m search_l; do
  # Both end with status 1 after EXIT, as the service always does.
  "$build"/addressbook/extern_book "$work/book.ini" <"$work/$commands" >/dev/null || true
  "$build"/refclient "$work/book.ini" <"$work/$commands" >/dev/null || true
done
kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null || true
pids=()
"$build"/replay serve "$work/streams" "$work/replay.port" &
pids+=("$!")
while [ ! -s "$work/replay.port" ]; do sleep 0.05; done
config "$(cat "$work/replay.port")"
measure "(b) SEARCH 100,000, replay" "$work/search_m"
rows+=("$row")
half=$last
measure "(b) SEARCH 200,000, replay" "$work/search_l"
rows+=("$row")
growth=$(awk -v h="$half" -v f="$last" 'BEGIN { split(h, a); split(f, b)
  printf "service, 200,000 against 100,000 people: time x%.2f, peak RSS x%.2f", b[1] / a[1], b[2] / a[2] }')

# Three SEARCHes in one session, against the reference and the floor
# reader (bench/replay_x3.sh), at least 7 runs.
. bench/replay_x3.sh
replay_x3 "$build" "$work" "$work/book.ini" "$(cat "$work/replay.port")" $((runs > 7 ? runs : 7))

echo
echo "== service against the libldap reference (median of $runs runs; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-28s %8s %8s %6s %9s %9s %6s  %s\n' job "svc s" "ref s" ratio "svc MB" "ref MB" ratio identical
printf '%s\n' "${rows[@]}"
echo "$growth"
echo
echo "== the service paged against unpaged (median of $runs runs)"
printf '%-28s %8s %8s %6s %9s %9s %6s  %s\n' job "paged s" "whole s" ratio "paged MB" "whole MB" ratio identical
printf '%s\n' "${paging[@]}"
echo
printf '%s\n' "${x3_table[@]}"
