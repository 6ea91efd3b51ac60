#!/usr/bin/env bash
# The systemd unit the tools package installs is one systemd accepts:
# systemd-analyze verify of an instance, its ExecStart pointed at the built
# host. Any complaint fails the test.
#   service_unit_test.sh UNIT_FILE HOST
set -euo pipefail
unit=$1
host=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed "s|^ExecStart=[^ ]*|ExecStart=$host|" "$unit" >"$work/velmocair-host@.service"
complaints=$(SYSTEMD_UNIT_PATH="$work:" systemd-analyze verify "velmocair-host@site-a.service" 2>&1 || echo "systemd-analyze failed")
grep -q "^ExecStart=$host --site /etc/velmocair/%i.json$" "$work/velmocair-host@.service" ||
  complaints+="ExecStart does not run the host with the site file"
if [ -n "$complaints" ]; then
  echo "$complaints" >&2
  exit 1
fi
