#!/usr/bin/env bash
# Load and soak of extern_book against a private slapd (not part of CI; it
# takes minutes). Needs build/ and build-asan/ built (scripts/test.sh).
#
#   1. One session of 100,000 mixed SEARCH and GET commands against a
#      directory of 100,000 people: commands per second, and the peak RSS
#      after the first 1,000 commands against the peak at the end (it must
#      not grow by more than 10%).
#   2. One search listing all 100,000 entries, run by the sanitizer build:
#      LeakSanitizer must report nothing. With --valgrind, also by the plain
#      build under valgrind memcheck (slow).
#
# Usage: scripts/soak.sh [--valgrind] [COMMANDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
valgrind=0
if [ "${1:-}" = --valgrind ]; then valgrind=1; shift; fi
commands=${1:-100000}
people=${SOAK_PEOPLE:-100000}
plain=$root/build/addressbook/extern_book
asan=$root/build-asan/addressbook/extern_book
for bin in "$plain" "$asan"; do
  [ -x "$bin" ] || { echo "soak: $bin is missing: build first" >&2; exit 2; }
done
. "$root/scripts/private-slapd.sh"

work=$(mktemp -d /tmp/extern-book-soak-XXXXXX)
slapd_pid=
cleanup() {
  if [ -n "$slapd_pid" ]; then kill "$slapd_pid" 2>/dev/null || true; wait "$slapd_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== directory of $people people"
slapd_conf "$work" "cn=Manager,dc=example,dc=com" 1073741824
cat >>"$work/slapd.conf" <<EOF
index objectClass eq
index sn eq
index mail eq
EOF
awk -v people="$people" 'BEGIN {
  print "dn: dc=example,dc=com\nobjectClass: dcObject\nobjectClass: organization\ndc: example\no: Example\n"
  print "dn: ou=People,dc=example,dc=com\nobjectClass: organizationalUnit\nou: People\n"
  for (i = 0; i < people; i++) {
    printf "dn: cn=Person %d,ou=People,dc=example,dc=com\nobjectClass: inetOrgPerson\n", i
    printf "cn: Person %d\nsn: Group %d\nmail: person%d@example.com\n", i, i % (people / 5), i
    if (i % 3 == 0) printf "mail: p%d@example.org\n", i
    printf "telephoneNumber: +1 555 %07d\n\n", i
  }
}' > "$work/people.ldif"
slapd_start "$work" "$work/people.ldif" || { echo "soak: slapd did not start" >&2; exit 2; }
port=$slapd_port
rm "$work/people.ldif"

cat > "$work/extern_book.ini" <<EOF
host 127.0.0.1
port $port
manager_dn cn=Manager,dc=example,dc=com
manager_pass secret
base_dn ou=People,dc=example,dc=com
scope LDAP_SCOPE_SUBTREE
field fullname STRING cn true
field surname STRING sn true
field email STRING mail true
field phone PHONE telephoneNumber false
EOF

echo "== one session of $commands mixed SEARCH and GET commands"
cmake -S "$root/bench" -B "$root/build-bench" -G Ninja >/dev/null
cmake --build "$root/build-bench" --target soak_driver >/dev/null
"$root/build-bench/soak_driver" "$plain" "$work" "$commands" "$people"

echo "== a search of all $people entries under LeakSanitizer"
cd "$work"
ASAN_OPTIONS=detect_leaks=1 "$asan" > "$work/all.out" 2> "$work/all.err" <<EOF || true
SEARCH AND 1-0 surname=Group*
GET cn!3DPerson!2012!2Cou!3DPeople!2Cdc!3Dexample!2Cdc!3Dcom
EXIT
EOF
listed=$(grep -c '^cn!3DPerson' "$work/all.out" || true)
echo "listed: $listed; status: $(grep -m1 'located' "$work/all.out")"
if grep -q 'ERROR: \(LeakSanitizer\|AddressSanitizer\)\|runtime error' "$work/all.err"; then
  echo "sanitizer report:" >&2; cat "$work/all.err" >&2; exit 1
fi
[ "$listed" -eq "$people" ] || { echo "soak: expected $people entries" >&2; exit 1; }
echo "LeakSanitizer: no report"

if [ "$valgrind" = 1 ]; then
  echo "== the same search under valgrind memcheck"
  valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
    "$plain" > "$work/vg.out" 2> "$work/vg.err" <<EOF && vg=0 || vg=$?
SEARCH AND 1-0 surname=Group*
EXIT
EOF
  echo "listed: $(grep -c '^cn!3DPerson' "$work/vg.out" || true)"
  grep -E 'definitely lost|indirectly lost|ERROR SUMMARY' "$work/vg.err"
  [ "$vg" != 99 ] || { echo "soak: valgrind found errors" >&2; exit 1; }
fi
echo "soak: done"
