#!/usr/bin/env bash
# Writes the benchmark directory as LDIF: the suffix, ou=People and N people
# with ten attributes each. Every seventh person's DN holds an escaped comma
# and blanks, so that the coded DN form is exercised. departmentNumber
# selects the sizes: "s" on the first 10,000, "m" on the first 100,000 and
# "l" on everyone.
#
#   bench/gen_ldif.sh N > data.ldif
set -euo pipefail
awk -v n="${1:?number of people}" 'BEGIN {
  print "dn: dc=example,dc=com\nobjectClass: dcObject\nobjectClass: organization\no: Example\ndc: example\n"
  print "dn: ou=People,dc=example,dc=com\nobjectClass: organizationalUnit\nou: People\n"
  split("Smith Jones Brown Taylor Wilson Evans Thomas Roberts Walker Wright", surnames, " ")
  split("Jo Ann Bob Eve Max Ida Lou Sam Zoe Tim", given, " ")
  for (i = 0; i < n; i++) {
    id = sprintf("%06d", i)
    sn = surnames[i % 10 + 1]; gn = given[int(i / 10) % 10 + 1]
    rdn = (i % 7 == 3) ? sprintf("cn=%s\\, %s %s", sn, gn, id) : sprintf("uid=user%s", id)
    printf "dn: %s,ou=People,dc=example,dc=com\n", rdn
    print "objectClass: inetOrgPerson"
    printf "cn: %s, %s %s\nsn: %s\ngivenName: %s\nuid: user%s\n", sn, gn, id, sn, gn, id
    printf "mail: %s.%s.%s@example.com\nmail: user%s@mail.example.com\n", tolower(gn), tolower(sn), id, id
    printf "telephoneNumber: +1 555 %04d %03d\ntitle: Engineer %d\nl: Springfield\n", i % 10000, i % 1000, i % 50
    if (i < 10000) print "departmentNumber: s"
    if (i < 100000) print "departmentNumber: m"
    print "departmentNumber: l\n"
  }
}'
