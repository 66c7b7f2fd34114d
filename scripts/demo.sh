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

. scripts/private-slapd.sh

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

slapd_conf "$work" "cn=admin,dc=example,dc=com" 268435456
slapd_start "$work" "$root/data/sample.ldif"
port=$slapd_port

# The documented sample configuration, pointed at this directory.
sed -e "s/^port .*/port $port/" extern_book.ini.sample >"$work/extern_book.ini"

echo "extern_book on the sample address book (slapd on 127.0.0.1:$port)."
echo "Try: COMMANDS, AVAILABLE, SEARCH AND 1-0 fullname=*smith*, GET <a coded DN>, EXIT"
cd "$work"
# The service ends with status 1 after EXIT or at the end of its input.
"$root/build/addressbook/extern_book" || [ $? -eq 1 ]
