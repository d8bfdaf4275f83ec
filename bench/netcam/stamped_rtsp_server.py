#!/usr/bin/python3
"""An RTSP camera on 127.0.0.1 for the latency benchmark: PORT FILE LOG. Serves FILE (an
MP4 holding H.264 whose pictures carry their frame number as a bar code, made by
run.sh) at /stamped in real time, and writes "FRAME WALL_NS" to LOG for every picture
the moment it is handed to the RTP payloader: the moment it leaves the server. Prints
"ready PORT" once it listens; exit code 77 when the GStreamer RTSP server is missing."""
import sys
import time

try:
    import gi
    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtspServer
except (ImportError, ValueError) as e:
    print("skip: the GStreamer RTSP server is not installed:", e, flush=True)
    sys.exit(77)

FRAME_NS = 40_000_000  # 25 pictures a second


def main():
    port, path, log_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    Gst.init(None)
    log = open(log_path, "w", buffering=1)
    # identity sync=true holds every picture until its moment on the pipeline clock, so
    # the probe after it sees the picture when it is sent, not when the file was read.
    launch = ("( filesrc location=%s ! qtdemux ! identity sync=true ! "
              "rtph264pay name=pay0 pt=96 config-interval=1 )" % path)
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch)
    factory.set_shared(True)

    def on_buffer(_pad, info):
        buffer = info.get_buffer()
        if buffer.pts != Gst.CLOCK_TIME_NONE:
            log.write("%d %d\n" % (round(buffer.pts / FRAME_NS), time.time_ns()))
        return Gst.PadProbeReturn.OK

    def on_configure(_factory, media):
        pay = media.get_element().get_by_name("pay0")
        pay.get_static_pad("sink").add_probe(Gst.PadProbeType.BUFFER, on_buffer)

    factory.connect("media-configure", on_configure)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(port))
    server.get_mount_points().add_factory("/stamped", factory)
    if server.attach(None) == 0:
        print("could not listen on", port, flush=True)
        sys.exit(1)
    print("ready", server.get_bound_port(), flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
