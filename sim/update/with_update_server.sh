#!/usr/bin/env bash
# Runs a command while the update server's stand-in listens on localhost:
#   with_update_server.sh <work folder> <signing key> <certs folder> -- <command...>
# The command finds the work folder in KS_UPDATE_SIM_DIR (release.json and mode go there). Run it
# inside tools/netns-run, like the rest of the Windows tier.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$1 key=$2 certs=$3
shift 3
[ "${1:-}" = "--" ] && shift
"$here/make_certs.sh" "$certs"
mkdir -p "$dir"
rm -f "$dir/ready" "$dir/mode" "$dir/requests.log" "$dir/last-manifest"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy
python3 "$here/update_server.py" --dir "$dir" --key "$key" --certs "$certs" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 150); do
  [ -f "$dir/ready" ] && break
  kill -0 "$server" 2>/dev/null || { echo "with_update_server: the server did not start" >&2; exit 1; }
  sleep 0.1
done
[ -f "$dir/ready" ] || { echo "with_update_server: the server did not start in time" >&2; exit 1; }
rc=0
KS_UPDATE_SIM_DIR=$dir "$@" || rc=$?
exit "$rc"
