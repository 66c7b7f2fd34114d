#!/usr/bin/env bash
# Installs what the benchmarks need beyond scripts/install-deps.sh: the
# OpenLDAP client library the reference client of bench/run.sh is written
# against, and iproute2 for the private network of bench/failover.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
missing=()
for package in libldap-dev iproute2; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
