#!/usr/bin/env bash
# Runs every benchmark and prints the tables: the micro-benchmarks, then the
# service against the libldap reference client on the same data in the same
# run, with the ratios service/reference of wall time, CPU time (user +
# system of the client process) and peak RSS (median of RUNS runs each) and
# whether both wrote identical replies; over plain LDAP, StartTLS and LDAPS,
# with the cost of the TLS handshake; then the service's paged SEARCH
# against its unpaged one.
#
#   bench/run.sh [RUNS]          (default 5; PEOPLE=200000 people in the directory;
#                                 HANDSHAKE_RUNS=3*RUNS for the start-up jobs (e))
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
[ -x "$build/refclient" ] || { echo "bench: refclient needs libldap-dev (scripts/bench-deps.sh)" >&2; exit 2; }
service=$build/addressbook/extern_book

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

# config FILE PORT [TLS]: the configuration both clients read, for a server
# on PORT, TLS off (the default), starttls or ldaps. A plain one names no TLS
# file, for which the service would make a TLS context at start-up. Both
# read page_size; all but the paged runs of (f) ask for every entry at once.
config() {
  local tls=${3:-off}
  cat >"$1" <<INI
host 127.0.0.1
port $2
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
  [ "$tls" = off ] || printf 'tls %s\ntls_ca_file %s\n' "$tls" "$work/tls/ca.pem" >>"$1"
}

# What each client negotiates, as a second slapd with the same TLS lines
# and its connection log on tells: the service connects first, then the
# reference, over StartTLS and then LDAPS.
mkdir "$work/check"
slapd_conf "$work/check" "cn=Manager,dc=example,dc=com" 268435456 "$tls_lines"
slapd_log_level=stats slapd_start "$work/check" data/sample.ldif ldaps
pids+=("$slapd_pid")
config "$work/check/starttls.ini" "$slapd_port" starttls
config "$work/check/ldaps.ini" "$slapd_ldaps_port" ldaps
for tls in starttls ldaps; do
  for program in "$service" "$build/refclient"; do
    echo EXIT | "$program" "$work/check/$tls.ini" >/dev/null || true
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

# measure COMMANDS COUNT NAME CONFIG [NAME CONFIG...]: COUNT rounds, each
# running the service and the reference on the command file with each
# configuration in turn, so that the machine's changing load falls on all
# alike; odd rounds run the service first, even rounds the reference, so
# that neither always finds slapd's caches as the other left them. One
# table row of medians per configuration. The outputs of the
# K-th configuration are left in $work/K.service.out and K.reference.out.
# Sets last to the last service's "wall CPU RSS" and costs[K] to "wall CPU"
# of the K-th service, then of its reference (seconds).
rows=()
costs=()
measure() {
  local commands=$1 count=$2 i k who program
  shift 2
  local -a names=() configs=()
  while [ $# -gt 0 ]; do names+=("$1"); configs+=("$2"); shift 2; done
  for k in "${!names[@]}"; do : >"$work/$k.service.runs"; : >"$work/$k.reference.runs"; done
  for i in $(seq "$count"); do
    for k in "${!names[@]}"; do
      order="service reference"
      [ $((i % 2)) = 0 ] && order="reference service"
      for who in $order; do
        program=$service
        [ "$who" = reference ] && program=$build/refclient
        "$build"/runstat "$work/run" "$program" "${configs[k]}" <"$commands" >"$work/$k.$who.out" || true
        cat "$work/run" >>"$work/$k.$who.runs"
      done
    done
  done
  for k in "${!names[@]}"; do row "${names[k]}" "$work/$k"; costs[k]=$both; done
}

# row NAME PREFIX: the table row of PREFIX.service.* against PREFIX.reference.*.
row() {
  local name=$1 prefix=$2 column same=yes
  local -a s=() r=()
  for column in 1 2 3; do
    s[column]=$(median "$column" <"$prefix.service.runs")
    r[column]=$(median "$column" <"$prefix.reference.runs")
  done
  cmp -s "$prefix.service.out" "$prefix.reference.out" || same=NO
  [ "$same" = yes ] || diff "$prefix.service.out" "$prefix.reference.out" | head -5 >&2
  rows+=("$(awk -v n="$name" -v sw="${s[1]}" -v rw="${r[1]}" -v sc="${s[2]}" -v rc="${r[2]}" \
                -v sm="${s[3]}" -v rm="${r[3]}" -v same="$same" 'BEGIN {
    printf "%-31s %8.1f %8.1f %5.2f %8.1f %8.1f %5.2f %6.1f %6.1f %5.2f  %s", n, sw * 1000, rw * 1000,
           sw / rw, sc * 1000, rc * 1000, sc / rc, sm / 1024, rm / 1024, sm / rm, same }')")
  echo "$name: $(wc -l <"$prefix.service.out") reply lines" >&2
  last="${s[1]} ${s[2]} ${s[3]}"
  both="${s[1]} ${s[2]} ${r[1]} ${r[2]}"
}

plain=$work/plain.ini starttls=$work/starttls.ini ldaps=$work/ldaps.ini
config "$plain" "$slapd_port"
config "$starttls" "$slapd_port" starttls
config "$ldaps" "$slapd_ldaps_port" ldaps
printf 'SEARCH AND 1-0 group=s\nEXIT\n' >"$work/search_s"
measure "$work/search_s" "$runs" "(a) SEARCH 10,000" "$plain"
# The GETs name the first 1,000 people as SEARCH listed them.
{ sed -n '2,1001p' "$work/0.reference.out" | sed 's/,$//; s/^/GET /'; echo EXIT; } >"$work/gets"
measure "$work/gets" "$runs" "(c) 1,000 GET" "$plain" "(c) 1,000 GET, StartTLS" "$starttls"
# The search five times in one session.
{ for _ in 1 2 3 4 5; do echo 'SEARCH AND 1-0 group=s'; done; echo EXIT; } >"$work/search_s5"
measure "$work/search_s5" "$runs" "(d) SEARCH 10,000 x5" "$plain" "(d) SEARCH 10,000 x5, StartTLS" "$starttls"
# The reference writes each DN as it arrives; the service holds its listing
# until the search has succeeded (one that fails half-way lists nothing) and
# codes and writes it after slapd's last entry. (a) and (d) again, against
# the reference holding its listing the same way (REFCLIENT_HOLD).
REFCLIENT_HOLD=1 measure "$work/search_s" "$runs" "(a) held: SEARCH 10,000" "$plain"
REFCLIENT_HOLD=1 measure "$work/search_s5" "$runs" "(d) held: SEARCH 10,000 x5" "$plain" \
  "(d) held: x5, StartTLS" "$starttls"
# The handshake: start-up (connect, TLS, bind), one GET and EXIT, against
# the same over plain LDAP.
{ sed -n 1p "$work/gets"; echo EXIT; } >"$work/get1"
measure "$work/get1" "$handshake_runs" "(e) start-up + 1 GET" "$plain" \
  "(e) start-up + 1 GET, StartTLS" "$starttls" "(e) start-up + 1 GET, LDAPS" "$ldaps"
handshake=$(for k in 1 2; do
  echo "${costs[0]} ${costs[k]}" | awk -v t="$([ "$k" = 1 ] && echo StartTLS || echo LDAPS)" '{
    printf "(e) %s over plain: service %+.1f ms wall, %+.1f ms CPU; reference %+.1f ms wall, %+.1f ms CPU\n",
           t, ($5 - $1) * 1000, ($6 - $2) * 1000, ($7 - $3) * 1000, ($8 - $4) * 1000 }'
done)

# Paged against unpaged, on slapd (whose size limit is lifted): each
# client's paged rows against its own unpaged one, the reference paging
# with libldap's paged-results control as the service pages.
printf 'SEARCH AND 1-0 group=m\nEXIT\n' >"$work/search_m"
for size in 500 1000; do sed "s/^page_size 0$/page_size $size/" "$plain" >"$work/paged$size.ini"; done
measure "$work/search_m" "$runs" "(f) SEARCH 100,000, unpaged" "$plain" \
  "(f) SEARCH 100,000, 500/page" "$work/paged500.ini" "(f) SEARCH 100,000, 1000/page" "$work/paged1000.ini"
paging=$(for k in 1 2; do
  same=yes; cmp -s "$work/0.service.out" "$work/$k.service.out" || same=NO
  echo "${costs[0]} ${costs[k]}" | awk -v k="$k" -v same="$same" '{
    printf "(f) %s/page against unpaged: service wall x%.2f, CPU x%.2f, output identical: %s; reference wall x%.2f, CPU x%.2f\n",
           (k == 1 ? 500 : 1000), $5 / $1, $6 / $2, same, $7 / $3, $8 / $4 }'
done)

# Record what slapd answers each client's search, then replay it.
printf 'SEARCH AND 1-0 group=l\nEXIT\n' >"$work/search_l"
mkdir -p "$work/streams"
"$build"/replay record "$work/streams" "$work/record.port" "$slapd_port" &
pids+=("$!")
while [ ! -s "$work/record.port" ]; do sleep 0.05; done
config "$work/record.ini" "$(cat "$work/record.port")"
for commands in search_m search_l; do
  # Both end with status 1 after EXIT, as the service always does.
  "$service" "$work/record.ini" <"$work/$commands" >/dev/null || true
  "$build"/refclient "$work/record.ini" <"$work/$commands" >/dev/null || true
done
kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null || true
pids=()
"$build"/replay serve "$work/streams" "$work/replay.port" &
pids+=("$!")
while [ ! -s "$work/replay.port" ]; do sleep 0.05; done
config "$work/replay.ini" "$(cat "$work/replay.port")"
measure "$work/search_m" "$runs" "(b) SEARCH 100,000, replay" "$work/replay.ini"
half=$last
measure "$work/search_l" "$runs" "(b) SEARCH 200,000, replay" "$work/replay.ini"
growth=$(awk -v h="$half" -v f="$last" 'BEGIN { split(h, a); split(f, b)
  printf "service, 200,000 against 100,000 people: time x%.2f, peak RSS x%.2f", b[1] / a[1], b[3] / a[3] }')

# Three SEARCHes in one session, against the reference and the floor
# reader (bench/replay_x3.sh), at least 7 runs.
. bench/replay_x3.sh
replay_x3 "$build" "$work" "$work/replay.ini" "$(cat "$work/replay.port")" $((runs > 7 ? runs : 7))

echo
echo "== service against the libldap reference (median of $runs runs, (e) of $handshake_runs; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-31s %8s %8s %5s %8s %8s %5s %6s %6s %5s  %s\n' job "svc ms" "ref ms" ratio \
  "svc CPU" "ref CPU" ratio "svc MB" "ref MB" ratio identical
printf '%s\n' "${rows[@]}"
echo "$growth"
echo "$handshake"
echo "$paging"
echo "TLS as slapd saw it: $tls_seen"
echo
printf '%s\n' "${x3_table[@]}"
