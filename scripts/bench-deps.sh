#!/usr/bin/env bash
# Installs what bench/run.sh needs beyond scripts/install-deps.sh: the
# OpenLDAP client library the reference client is written against.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dpkg-query -W -f='${Status}' libldap-dev 2>/dev/null | grep -q "install ok installed" && exit 0
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q libldap-dev
