#!/usr/bin/env bash
# Runs extern_book on the terminal against a private OpenLDAP slapd that
# serves the sample address book data/sample.ldif on 127.0.0.1. Installs
# slapd and ldap-utils when missing and builds the service first. Type
# COMMANDS, AVAILABLE, SEARCH ..., GET ... and EXIT; the directory is
# stopped when the service ends.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
echo "building extern_book..."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target extern_book >/dev/null

# slapd and slapadd live in sbin, which is not always on PATH.
tool() { command -v "$1" 2>/dev/null || echo "/usr/sbin/$1"; }
slapd_bin=$(tool slapd)
slapadd_bin=$(tool slapadd)

work=$(mktemp -d "${TMPDIR:-/tmp}/extern_book-demo.XXXXXX")
slapd_pid=
stop() {
  if [ -n "$slapd_pid" ]; then
    kill "$slapd_pid" 2>/dev/null || true
    wait "$slapd_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop EXIT

# The first free port from 3890 on (something answering means taken).
port=3890
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  port=$((port + 1))
done

mkdir "$work/db"
cat >"$work/slapd.conf" <<EOF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
modulepath /usr/lib/ldap
moduleload back_mdb
pidfile $work/slapd.pid
argsfile $work/slapd.args
database mdb
maxsize 268435456
suffix "dc=example,dc=com"
rootdn "cn=admin,dc=example,dc=com"
rootpw secret
directory $work/db
EOF
"$slapadd_bin" -q -f "$work/slapd.conf" -l "$root/data/sample.ldif"

# -d 0 keeps slapd in the foreground: its pid is ours to stop.
"$slapd_bin" -f "$work/slapd.conf" -h "ldap://127.0.0.1:$port/" -d 0 >"$work/slapd.log" 2>&1 &
slapd_pid=$!
for _ in $(seq 100); do
  ldapsearch -x -H "ldap://127.0.0.1:$port" -b "" -s base >/dev/null 2>&1 && break
  kill -0 "$slapd_pid" 2>/dev/null || { cat "$work/slapd.log" >&2; exit 1; }
  sleep 0.1
done

# The documented sample configuration, pointed at this directory.
sed -e "s/^port .*/port $port/" extern_book.ini.sample >"$work/extern_book.ini"

echo "extern_book on the sample address book (slapd on 127.0.0.1:$port)."
echo "Try: COMMANDS, AVAILABLE, SEARCH AND 1-0 fullname=*smith*, GET <a coded DN>, EXIT"
cd "$work"
# The service ends with status 1 after EXIT or at the end of its input.
"$root/build/addressbook/extern_book" || [ $? -eq 1 ]
