#!/usr/bin/env bash
# Runs a command with the HTTP test server listening on 127.0.0.1.
# usage: with_http_server.sh <root folder> <command...>
# The command sees LAUNCHER_HTTP_PORT (the server's port) and LAUNCHER_HTTP_ROOT (the
# folder it serves). The server is stopped by its process id afterwards.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${1:?usage: with_http_server.sh <root folder> <command...>}
shift
mkdir -p "$root"
port_file=$(mktemp)
rm -f "$port_file"
python3 "$here/http_test_server.py" --port-file "$port_file" --root "$root" &
server_pid=$!
for _ in $(seq 1 100); do
    [ -s "$port_file" ] && break
    sleep 0.1
done
if [ ! -s "$port_file" ]; then
    echo "HTTP test server did not start" >&2
    kill "$server_pid" 2>/dev/null
    exit 1
fi
export LAUNCHER_HTTP_PORT=$(cat "$port_file")
export LAUNCHER_HTTP_ROOT=$root
rm -f "$port_file"
"$@"
rc=$?
kill "$server_pid" 2>/dev/null
wait "$server_pid" 2>/dev/null
exit $rc
