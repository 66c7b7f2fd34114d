#!/usr/bin/env bash
# Runs extern_book on the terminal against a private OpenLDAP slapd that
# serves the sample address book data/sample.ldif on 127.0.0.1, over
# StartTLS with a certificate authority made for the occasion. Installs
# slapd, ldap-utils and openssl when missing and builds the service first.
# Type COMMANDS, AVAILABLE, SEARCH ..., GET ... and EXIT; the directory is
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

# A certificate authority and the directory's certificate (for 127.0.0.1).
mkdir "$work/tls"
sh scripts/make-certificates.sh "$work/tls"
slapd_conf "$work" "cn=admin,dc=example,dc=com" 268435456 "TLSCACertificateFile $work/tls/ca.pem
TLSCertificateFile $work/tls/server.pem
TLSCertificateKeyFile $work/tls/server.key"
slapd_start "$work" "$root/data/sample.ldif"
port=$slapd_port

# The documented sample configuration, pointed at this directory, with
# StartTLS and the authority to trust.
sed -e "s/^port .*/port $port/" extern_book.ini.sample >"$work/extern_book.ini"
printf 'tls starttls\ntls_ca_file %s\n' "$work/tls/ca.pem" >>"$work/extern_book.ini"

echo "extern_book on the sample address book (slapd on 127.0.0.1:$port, StartTLS)."
echo "Try: COMMANDS, AVAILABLE, SEARCH AND 1-0 fullname=*smith*, GET <a coded DN>, EXIT"
cd "$work"
# The service ends with status 1 after EXIT or at the end of its input.
"$root/build/addressbook/extern_book" || [ $? -eq 1 ]
