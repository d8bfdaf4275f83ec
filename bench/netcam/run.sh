#!/usr/bin/env bash
# Network camera benchmarks on 127.0.0.1, in a private settings store:
#   bench/netcam/run.sh BUILD_DIR [SECONDS] [PICTURE.png]
# 1. netcam_bench: CPU per 1280x720 H.264 picture decoded and scaled to 640x480 YUY2 by
#    the capture source's reader, beside the ffmpeg program on the same stream.
# 2. netcam_latency: the delay from a picture leaving the RTSP server to it coming out
#    of the splitter, read from a frame-number bar code in the pictures; with PICTURE,
#    the last picture out of the splitter, time stamp and all, as a PNG.
# Use a build without sanitizers (Release or RelWithDebInfo) for meaningful figures.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd); seconds=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/netcam-bench.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_ready() { for _ in $(seq 50); do grep -q '^ready' "$1" && return 0; grep -q '^skip' "$1" && { cat "$1"; exit 77; }; sleep 0.1; done; cat "$1"; exit 1; }

port=$(free_port)
/usr/bin/python3 "$here/../../tests/integration/netcam/rtsp_server.py" "$port" > "$work/server.log" 2>&1 &
pids+=($!)
wait_ready "$work/server.log"
echo "== reader CPU, 1280x720 H.264 to 640x480 YUY2 =="
"$build/bin/netcam_bench" "rtsp://127.0.0.1:$port/h264" "$seconds"

# Pictures numbered by a bar code of twelve black or white blocks across rows 300-420.
vf="drawbox=x=0:y=300:w=1280:h=120:color=black:t=fill"
for i in $(seq 0 11); do
  vf+=",drawbox=x=$((i * 80)):y=300:w=80:h=120:color=white:t=fill:enable='gt(bitand(n\\,$((1 << i)))\\,0)'"
done
length=$(awk -v s="$seconds" 'BEGIN { print int(s) + 20 }')
ffmpeg -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -t "$length" -vf "$vf" \
  -c:v libx264 -preset ultrafast -tune zerolatency -g 25 -pix_fmt yuv420p "$work/stamped.mp4"
sport=$(free_port)
/usr/bin/python3 "$here/stamped_rtsp_server.py" "$sport" "$work/stamped.mp4" "$work/sent.log" > "$work/stamped.log" 2>&1 &
pids+=($!)
wait_ready "$work/stamped.log"
export HALVARD_REGISTRY="$work/registry.db" HALVARD_DATA="$work/" HALVARD_SIMULATED_CARDS=0 \
  HALVARD_V4L2_DIR="$work/no-v4l2"
"$build/bin/halvard-regsvr" "$build/lib/libZelSplitter.so" > /dev/null
"$build/bin/halvard-reg" set 'HKLM\Software\Tesmark\Halvard Surveillance Server\System\Network Cameras' \
  Stamped sz "rtsp://127.0.0.1:$sport/stamped"
echo "== latency, server to splitter =="
"$build/bin/netcam_latency" Stamped "$seconds" "$work/sent.log" "$work/last.yuv"
if [ -n "${3:-}" ]; then
  ffmpeg -v error -y -f rawvideo -pix_fmt yuyv422 -s 640x480 -i "$work/last.yuv" -frames:v 1 "$3"
  echo "the last picture out of the splitter: $3"
fi
