#!/usr/bin/env bash
# Starts a 1280x720 H.264 RTSP camera on 127.0.0.1 and runs netcam_bench against it.
#   bench/netcam/run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?build folder}; seconds=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/python3 "$here/../../tests/integration/netcam/rtsp_server.py" "$port" > /tmp/netcam-bench-server.log 2>&1 &
server=$!
trap 'kill $server' EXIT
sleep 2
"$build/bin/netcam_bench" "rtsp://127.0.0.1:$port/h264" "$seconds"
