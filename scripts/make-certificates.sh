#!/bin/sh
# Makes the test certificates in directory $1 (EC P-256 keys, PEM files):
#   ca.pem ca.key        a private certificate authority
#   server.pem server.key  for localhost, 127.0.0.1 and ::1, signed by the CA
#   expired.pem          the same names and key, validity over long ago
#   other.pem            signed by the CA for other.example / 10.9.9.9, same key
#   self.pem             self-signed for the server's names, same key
#   client.pem client.key  a client certificate signed by the CA
#   crl.pem              the CA's revocation list, empty
set -eu
cd "$1"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
cat >ca.cnf <<CONF
[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = issued
certificate = ca.pem
private_key = ca.key
rand_serial = yes
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[server]
basicConstraints = critical,CA:FALSE
subjectAltName = DNS:localhost,IP:127.0.0.1,IP:::1
[other]
basicConstraints = critical,CA:FALSE
subjectAltName = DNS:other.example,IP:10.9.9.9
[client]
basicConstraints = critical,CA:FALSE
extendedKeyUsage = clientAuth
CONF
: >index.txt; mkdir -p issued
key ca.key; key server.key; key client.key
openssl req -x509 -new -key ca.key -subj "/CN=Test CA" -days 30 -out ca.pem
openssl req -new -key server.key -subj /CN=localhost -out server.csr
openssl req -new -key client.key -subj /CN=client -out client.csr
# sign OUT CSR EXTENSIONS [openssl ca options]
sign() { out=$1 csr=$2 ext=$3; shift 3
         openssl ca -config ca.cnf -batch -notext -in "$csr" -out "$out" -extensions "$ext" "$@" 2>/dev/null; }
sign server.pem server.csr server -days 30
sign expired.pem server.csr server -startdate 20200101000000Z -enddate 20200102000000Z
sign other.pem server.csr other -days 30
sign self.pem server.csr server -days 30 -selfsign -keyfile server.key
sign client.pem client.csr client -days 30
openssl ca -config ca.cnf -gencrl -crldays 30 -out crl.pem 2>/dev/null
