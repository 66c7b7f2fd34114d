#!/usr/bin/env bash
# Runs every benchmark and prints the tables: the micro-benchmarks, then the
# service against the libldap reference client on the same data in the same
# run, with the ratios service/reference of wall time, CPU time (user +
# system of the client process) and peak RSS (median of RUNS runs each) and
# whether both wrote identical replies; over plain LDAP, StartTLS and LDAPS,
# with the cost of the TLS handshake.
#
#   bench/run.sh [RUNS]          (default 5; PEOPLE=200000 people in the directory;
#                                 HANDSHAKE_RUNS=3*RUNS for the start-up jobs)
#
# Needs slapd, ldap-utils, libldap-dev and libbenchmark-dev; run by hand on
# a quiet machine, never in CI.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/private-slapd.sh
runs=${1:-5}
people=${PEOPLE:-200000}
handshake_runs=${HANDSHAKE_RUNS:-$((3 * runs))}
build=build-bench

cmake -S bench -B "$build" -G Ninja >/dev/null
cmake --build "$build" >/dev/null

work=$(mktemp -d /tmp/bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

echo "== micro-benchmarks"
"$build"/bench_micro --benchmark_min_time=0.5

# TLS for the directory: certificates made for the run (EC P-256), and one
# suite for everyone. Left to choose, the GnuTLS-based reference and the
# service both take TLS 1.3 with AES-256-GCM but not the same key exchange
# (P-256 against X25519), so slapd (GnuTLS) allows only TLS 1.3,
# AES-256-GCM and X25519, which both clients offer at once.
mkdir "$work/tls"
sh scripts/make-certificates.sh "$work/tls" 2>/dev/null
tls_lines="TLSCACertificateFile $work/tls/ca.pem
TLSCertificateFile $work/tls/server.pem
TLSCertificateKeyFile $work/tls/server.key
TLSCipherSuite NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:+AES-256-GCM:-GROUP-ALL:+GROUP-X25519"

# The configuration both clients read, for a server on port $1, TLS $2
# (off, starttls or ldaps; default off). A plain one names no TLS file, for
# which the service would make a TLS context at start-up.
config() {
  local tls=${2:-off}
  cat >"$work/book.ini" <<INI
host 127.0.0.1
port $1
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
  [ "$tls" = off ] || printf 'tls %s\ntls_ca_file %s\n' "$tls" "$work/tls/ca.pem" >>"$work/book.ini"
}

# What each client negotiates, as a second slapd with the same TLS lines
# and its connection log on tells: the service connects first, then the
# reference, over StartTLS and then LDAPS.
mkdir "$work/check"
slapd_conf "$work/check" "cn=Manager,dc=example,dc=com" 268435456 "$tls_lines"
slapd_log_level=stats slapd_start "$work/check" data/sample.ldif ldaps
pids+=("$slapd_pid")
for tls in starttls ldaps; do
  port=$slapd_port
  [ "$tls" = ldaps ] && port=$slapd_ldaps_port
  config "$port" "$tls"
  for program in extern_book refclient; do
    echo EXIT | "$build/$program" "$work/book.ini" >/dev/null || true
  done
done
kill "$slapd_pid"; wait "$slapd_pid" 2>/dev/null || true
pids=()
tls_seen=$(grep -o 'tls_proto=[^ ]* tls_cipher=[^ ]*' "$work/check/slapd.log" |
  awk '{ n++; printf "%s%s %s: %s", (n > 1 ? "; " : ""), (n % 2 ? "service" : "reference"),
                     (n > 2 ? "LDAPS" : "StartTLS"), $0 }')

# A private slapd with the generated people, sizelimit unlimited, plain,
# StartTLS and LDAPS.
echo "== loading $people people into a private slapd"
bench/gen_ldif.sh "$people" >"$work/data.ldif"
slapd_conf "$work" "cn=Manager,dc=example,dc=com" 4294967296 "sizelimit unlimited
$tls_lines"
cat >>"$work/slapd.conf" <<CONF
index objectClass eq
index departmentNumber eq
CONF
slapd_start "$work" "$work/data.ldif" ldaps
pids+=("$slapd_pid")
rm "$work/data.ldif"

# median COLUMN < FILE: the median of one column of runstat's lines.
median() { awk -v c="$1" '{ print $c }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# measure NAME COMMANDS [COUNT]: COUNT (default RUNS) alternating runs of the
# service and the reference on the command file; one table row of medians.
# Sets last to the service's "wall CPU RSS" and both to "wall CPU" of the
# service, then of the reference (seconds).
rows=()
measure() {
  local name=$1 commands=$2 count=${3:-$runs} who i
  for who in service reference; do : >"$work/$who.runs"; done
  for i in $(seq "$count"); do
    for who in service reference; do
      local program=$build/extern_book
      [ "$who" = reference ] && program=$build/refclient
      "$build"/runstat "$work/run" "$program" "$work/book.ini" <"$commands" >"$work/$who.out" || true
      cat "$work/run" >>"$work/$who.runs"
    done
  done
  local -a s=() r=()
  local column same=yes
  for column in 1 2 3; do
    s[column]=$(median "$column" <"$work/service.runs")
    r[column]=$(median "$column" <"$work/reference.runs")
  done
  cmp -s "$work/service.out" "$work/reference.out" || same=NO
  [ "$same" = yes ] || diff "$work/service.out" "$work/reference.out" | head -5 >&2
  rows+=("$(awk -v n="$name" -v sw="${s[1]}" -v rw="${r[1]}" -v sc="${s[2]}" -v rc="${r[2]}" \
                -v sm="${s[3]}" -v rm="${r[3]}" -v same="$same" 'BEGIN {
    printf "%-34s %8.1f %8.1f %5.2f %8.1f %8.1f %5.2f %7.1f %7.1f %5.2f  %s", n, sw * 1000, rw * 1000,
           sw / rw, sc * 1000, rc * 1000, sc / rc, sm / 1024, rm / 1024, sm / rm, same }')")
  echo "$name: $(wc -l <"$work/service.out") reply lines" >&2
  last="${s[1]} ${s[2]} ${s[3]}"
  both="${s[1]} ${s[2]} ${r[1]} ${r[2]}"
}

config "$slapd_port"
printf 'SEARCH AND 1-0 group=s\nEXIT\n' >"$work/search_s"
measure "(a) SEARCH 10,000, slapd" "$work/search_s"
# The GETs name the first 1,000 people as SEARCH listed them.
{ sed -n '2,1001p' "$work/reference.out" | sed 's/,$//; s/^/GET /'; echo EXIT; } >"$work/gets"
measure "(c) 1,000 GET, slapd" "$work/gets"

# TLS: the search five times in one session, and the GETs, over StartTLS,
# with the same search over plain LDAP beside it.
{ for _ in 1 2 3 4 5; do echo 'SEARCH AND 1-0 group=s'; done; echo EXIT; } >"$work/search_s5"
measure "(d) SEARCH 10,000 x5, plain" "$work/search_s5"
config "$slapd_port" starttls
measure "(d) SEARCH 10,000 x5, StartTLS" "$work/search_s5"
measure "(e) 1,000 GET, StartTLS" "$work/gets"
# The handshake: start-up (connect, TLS, bind) and one GET, then EXIT.
{ sed -n 1p "$work/gets"; echo EXIT; } >"$work/get1"
declare -A startup
for tls in off starttls ldaps; do
  port=$slapd_port label=plain
  [ "$tls" = starttls ] && label=StartTLS
  [ "$tls" = ldaps ] && port=$slapd_ldaps_port label=LDAPS
  config "$port" "$tls"
  measure "(f) start-up + 1 GET, $label" "$work/get1" "$handshake_runs"
  startup[$label]=$both
done
handshake=$(for label in StartTLS LDAPS; do
  echo "${startup[plain]} ${startup[$label]}" | awk -v t="$label" '{
    printf "(f) %s over plain: service +%.1f ms wall, +%.1f ms CPU; reference +%.1f ms wall, +%.1f ms CPU\n",
           t, ($5 - $1) * 1000, ($6 - $2) * 1000, ($7 - $3) * 1000, ($8 - $4) * 1000 }'
done)

# Record what slapd answers each client's search, then replay it.
printf 'SEARCH AND 1-0 group=m\nEXIT\n' >"$work/search_m"
printf 'SEARCH AND 1-0 group=l\nEXIT\n' >"$work/search_l"
mkdir -p "$work/streams"
"$build"/replay record "$work/streams" "$work/record.port" "$slapd_port" &
pids+=("$!")
while [ ! -s "$work/record.port" ]; do sleep 0.05; done
config "$(cat "$work/record.port")"
for commands in search_m search_l; do
  # Both end with status 1 after EXIT, as the service always does.
  "$build"/extern_book "$work/book.ini" <"$work/$commands" >/dev/null || true
  "$build"/refclient "$work/book.ini" <"$work/$commands" >/dev/null || true
done
kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null || true
pids=()
"$build"/replay serve "$work/streams" "$work/replay.port" &
pids+=("$!")
while [ ! -s "$work/replay.port" ]; do sleep 0.05; done
config "$(cat "$work/replay.port")"
measure "(b) SEARCH 100,000, replay" "$work/search_m"
half=$last
measure "(b) SEARCH 200,000, replay" "$work/search_l"
growth=$(awk -v h="$half" -v f="$last" 'BEGIN { split(h, a); split(f, b)
  printf "service, 200,000 against 100,000 people: time x%.2f, peak RSS x%.2f", b[1] / a[1], b[3] / a[3] }')

echo
echo "== service against the libldap reference (median of $runs runs, (f) of $handshake_runs; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-34s %8s %8s %5s %8s %8s %5s %7s %7s %5s  %s\n' job "svc ms" "ref ms" ratio \
  "svc CPU" "ref CPU" ratio "svc MB" "ref MB" ratio identical
printf '%s\n' "${rows[@]}"
echo "$growth"
echo "$handshake"
echo "TLS as slapd saw it: $tls_seen"
