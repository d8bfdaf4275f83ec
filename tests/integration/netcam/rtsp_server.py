#!/usr/bin/python3
"""An RTSP camera on 127.0.0.1 from GStreamer's RTSP server: PORT [--auth]. Mounts /h264
(1280x720 H.264 at 25 a second) and /mjpeg (640x480 JPEG). With --auth every mount wants
user "viewer", password "letmein". Prints "ready PORT" once it listens. Exit code 77
when the GStreamer RTSP server or its encoders are not installed."""
import sys

try:
    import gi
    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtspServer
except (ImportError, ValueError) as e:
    print("skip: the GStreamer RTSP server is not installed:", e, flush=True)
    sys.exit(77)

Gst.init(None)
for element in ("x264enc", "jpegenc", "videotestsrc", "rtph264pay", "rtpjpegpay"):
    if Gst.ElementFactory.find(element) is None:
        print("skip: GStreamer element missing:", element, flush=True)
        sys.exit(77)

H264 = ("( videotestsrc is-live=true pattern=ball ! video/x-raw,width=1280,height=720,framerate=25/1 ! "
        "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25 ! rtph264pay name=pay0 pt=96 )")
MJPEG = ("( videotestsrc is-live=true ! video/x-raw,format=I420,width=640,height=480,framerate=25/1 ! jpegenc ! "
         "rtpjpegpay name=pay0 pt=26 )")


def main():
    port = int(sys.argv[1])
    secured = "--auth" in sys.argv[2:]
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(port))
    mounts = server.get_mount_points()
    for path, launch in (("/h264", H264), ("/mjpeg", MJPEG)):
        factory = GstRtspServer.RTSPMediaFactory()
        factory.set_launch(launch)
        factory.set_shared(True)
        if secured:
            permissions = GstRtspServer.RTSPPermissions()
            permissions.add_role("viewer")
            permissions.add_permission_for_role("viewer", "media.factory.access", True)
            permissions.add_permission_for_role("viewer", "media.factory.construct", True)
            factory.set_permissions(permissions)
        mounts.add_factory(path, factory)
    if secured:
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "viewer")
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic("viewer", "letmein"), token)
        server.set_auth(auth)
    if server.attach(None) == 0:
        print("could not listen on", port, flush=True)
        sys.exit(1)
    print("ready", server.get_bound_port(), flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
