#!/usr/bin/env python3
"""A multipart MJPEG camera on 127.0.0.1: PORT WIDTH HEIGHT. Prints "ready PORT" once it
listens (PORT 0 picks a free one). The pictures are FFmpeg's test pattern with a running
counter, 25 a second."""
import socket
import subprocess
import sys
import threading
import time


def pictures(width, height):
    raw = subprocess.run(
        ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"testsrc=size={width}x{height}:rate=25", "-t", "4",
         "-q:v", "5", "-f", "mjpeg", "-"], check=True, capture_output=True).stdout
    out, start = [], 0
    while True:
        begin = raw.find(b"\xff\xd8", start)
        end = raw.find(b"\xff\xd9", begin)
        if begin < 0 or end < 0:
            return out
        out.append(raw[begin:end + 2])
        start = end + 2


def serve(conn, frames):
    try:
        conn.recv(4096)
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=frame\r\n\r\n")
        n, due = 0, time.monotonic()
        while True:
            jpeg = frames[n % len(frames)]
            conn.sendall(b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n" % len(jpeg) + jpeg + b"\r\n")
            n += 1
            due += 0.04
            time.sleep(max(0.0, due - time.monotonic()))
    except OSError:
        pass
    finally:
        conn.close()


def main():
    port, width, height = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    frames = pictures(width, height)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(4)
    print("ready", server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn, frames), daemon=True).start()


if __name__ == "__main__":
    main()
