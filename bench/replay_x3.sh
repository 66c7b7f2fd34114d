# Sourced by bench/run.sh once its replay server answers: three SEARCHes in
# one session, of 100,000 and of 200,000 entries each, the service against
# the libldap reference and against the floor reader (floor.cpp, which only
# walks the reply stream's message lengths), run one after the other round
# by round so that the machine's changing load falls on all alike. Wall
# time, CPU time (user + system of the client process) and peak RSS, by
# runstat; medians.
#
#   replay_x3 BUILD WORK INI PORT RUNS
#
# INI is the configuration both clients read (the replay server's port,
# page_size 0, the field group mapped to departmentNumber); the floor asks
# for the same search on PORT. Sets x3_table to the lines to print.

# x3_median COLUMN FILE: the median of one column of runstat's lines.
x3_median() {
  awk -v c="$1" '{ print $c }' "$2" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

replay_x3() {
  local build=$1 work=$2 ini=$3 port=$4 runs=$5 base group who i k
  base=$(sed -n 's/^base_dn //p' "$ini")
  for group in m l; do
    { for _ in 1 2 3; do echo "SEARCH AND 1-0 group=$group"; done; echo EXIT; } >"$work/x3_$group"
    for who in service reference floor; do : >"$work/x3_$group.$who"; done
  done
  # Round 0 is not counted: the replay server makes each stream once for
  # every message ID it is asked under, and keeps it.
  for i in $(seq 0 "$runs"); do
    for group in m l; do
      for who in service reference floor; do
        case $who in
          service) "$build"/runstat "$work/x3.stat" "$build"/addressbook/extern_book "$ini" \
                     <"$work/x3_$group" >"$work/x3_$group.$who.out" || true ;;
          reference) "$build"/runstat "$work/x3.stat" "$build"/refclient "$ini" \
                       <"$work/x3_$group" >"$work/x3_$group.$who.out" || true ;;
          floor) "$build"/runstat "$work/x3.stat" "$build"/floor "$port" "$base" \
                   "(departmentNumber=$group)" 3 >"$work/x3_$group.$who.out" || true ;;
        esac
        [ "$i" -eq 0 ] || cat "$work/x3.stat" >>"$work/x3_$group.$who"
      done
    done
  done

  local -a s r f growth=()
  x3_table=("== three SEARCHes in one session from the replay server (median of $runs runs)"
    "$(printf '%-16s %8s %8s %8s %6s %8s %8s %8s %6s %6s %6s %6s %5s  %s' job "svc ms" "ref ms" \
      "floor ms" "/floor" "svc CPU" "ref CPU" "flr CPU" "/ref" "svc MB" "ref MB" "flr MB" /ref identical)")
  for group in m l; do
    for k in 1 2 3; do
      s[k]=$(x3_median "$k" "$work/x3_$group.service")
      r[k]=$(x3_median "$k" "$work/x3_$group.reference")
      f[k]=$(x3_median "$k" "$work/x3_$group.floor")
    done
    local same=yes located
    cmp -s "$work/x3_$group.service.out" "$work/x3_$group.reference.out" || same=NO
    # The floor counts the entries of its last search.
    located=$(grep -o '^+success [0-9]* located' "$work/x3_$group.service.out" | tail -n 1 | cut -d' ' -f2)
    [ "$located" = "$(cat "$work/x3_$group.floor.out")" ] || same="$same, floor NO"
    x3_table+=("$(awk -v n="SEARCH $([ $group = m ] && echo 100,000 || echo 200,000) x3" \
      -v sw="${s[1]}" -v rw="${r[1]}" -v fw="${f[1]}" -v sc="${s[2]}" -v rc="${r[2]}" -v fc="${f[2]}" \
      -v sm="${s[3]}" -v rm="${r[3]}" -v fm="${f[3]}" -v same="$same" 'BEGIN {
      printf "%-16s %8.1f %8.1f %8.1f %6.2f %8.1f %8.1f %8.1f %6.2f %6.1f %6.1f %6.1f %5.2f  %s",
             n, sw * 1000, rw * 1000, fw * 1000, sw / fw, sc * 1000, rc * 1000, fc * 1000, sc / rc,
             sm / 1024, rm / 1024, fm / 1024, sm / rm, same }')")
    growth+=("${s[1]} ${s[2]} ${s[3]}")
  done
  x3_table+=("$(awk -v h="${growth[0]}" -v f="${growth[1]}" 'BEGIN { split(h, a); split(f, b)
    printf "service, 200,000 against 100,000 entries x3: wall x%.2f, CPU x%.2f, peak RSS x%.2f",
           b[1] / a[1], b[2] / a[2], b[3] / a[3] }')")
}
