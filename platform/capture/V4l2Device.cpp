#include "platform/capture/V4l2Device.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/capture/SceneGenerator.h"

namespace halvard::capture {
namespace {

int Xioctl(int fd, unsigned long request, void* arg) {
  int r = 0;
  do {
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

std::string Field(const __u8* text, std::size_t size) {
  const char* p = reinterpret_cast<const char*>(text);
  return std::string(p, strnlen(p, size));
}

std::string DeviceFolder() {
  if (const char* d = std::getenv("HALVARD_V4L2_DIR"); d != nullptr && *d != '\0') {
    return d;
  }
  return "/dev";
}

bool CapturesVideo(const v4l2_capability& cap) {
  const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
  return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0 && (caps & V4L2_CAP_STREAMING) != 0;
}

struct StdPair {
  DWORD avs;
  v4l2_std_id v4l2;
};
constexpr StdPair kStdPairs[] = {
    {kStandardNtscM, V4L2_STD_NTSC_M},     {kStandardNtscMJ, V4L2_STD_NTSC_M_JP},
    {kStandardNtsc433, V4L2_STD_NTSC_443}, {kStandardPalB, V4L2_STD_PAL_B},
    {kStandardPalD, V4L2_STD_PAL_D},       {kStandardPalG, V4L2_STD_PAL_G},
    {kStandardPalH, V4L2_STD_PAL_H},       {kStandardPalI, V4L2_STD_PAL_I},
    {kStandardPalM, V4L2_STD_PAL_M},       {kStandardPalN, V4L2_STD_PAL_N},
    {kStandardPal60, V4L2_STD_PAL_60},     {kStandardSecamB, V4L2_STD_SECAM_B},
    {kStandardSecamD, V4L2_STD_SECAM_D},   {kStandardSecamG, V4L2_STD_SECAM_G},
    {kStandardSecamH, V4L2_STD_SECAM_H},   {kStandardSecamK, V4L2_STD_SECAM_K},
    {kStandardSecamK1, V4L2_STD_SECAM_K1}, {kStandardSecamL, V4L2_STD_SECAM_L},
    {kStandardSecamL1, V4L2_STD_SECAM_LC}, {kStandardPalNCombo, V4L2_STD_PAL_Nc},
};

}  // namespace

DWORD StandardsFromV4l2(std::uint64_t v4l2Std) {
  DWORD avs = 0;
  for (const StdPair& p : kStdPairs) {
    if ((v4l2Std & p.v4l2) != 0) {
      avs |= p.avs;
    }
  }
  return avs;
}

std::uint64_t V4l2FromStandard(DWORD analogVideoStandard) {
  std::uint64_t v = 0;
  for (const StdPair& p : kStdPairs) {
    if ((analogVideoStandard & p.avs) != 0) {
      v |= p.v4l2;
    }
  }
  return v;
}

std::vector<V4l2DeviceInfo> EnumerateV4l2Devices() {
  std::vector<std::pair<int, std::string>> nodes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(DeviceFolder(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("video", 0) != 0) {
      continue;
    }
    char* end = nullptr;
    const long n = std::strtol(name.c_str() + 5, &end, 10);
    if (end == name.c_str() + 5 || *end != '\0') {
      continue;
    }
    nodes.emplace_back(static_cast<int>(n), entry.path().string());
  }
  std::sort(nodes.begin(), nodes.end());

  std::vector<V4l2DeviceInfo> devices;
  for (const auto& [number, node] : nodes) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    v4l2_capability cap{};
    if (Xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0 && CapturesVideo(cap)) {
      V4l2DeviceInfo info;
      info.node = node;
      info.driver = Field(cap.driver, sizeof cap.driver);
      info.card = Field(cap.card, sizeof cap.card);
      info.busInfo = Field(cap.bus_info, sizeof cap.bus_info);
      for (std::uint32_t i = 0; i < 64; ++i) {
        v4l2_input in{};
        in.index = i;
        if (Xioctl(fd, VIDIOC_ENUMINPUT, &in) != 0) {
          break;
        }
        info.inputs.push_back(Field(in.name, sizeof in.name));
        info.standards |= StandardsFromV4l2(in.std);
      }
      devices.push_back(std::move(info));
    }
    ::close(fd);
  }
  return devices;
}

CV4l2Device::~CV4l2Device() { Close(); }

HRESULT CV4l2Device::Open(const std::string& node) {
  Close();
  const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return VFW_E_NO_CAPTURE_HARDWARE;
  }
  v4l2_capability cap{};
  if (Xioctl(fd, VIDIOC_QUERYCAP, &cap) != 0 || !CapturesVideo(cap)) {
    ::close(fd);
    return VFW_E_NO_CAPTURE_HARDWARE;
  }
  m_fd = fd;
  return S_OK;
}

void CV4l2Device::Close() {
  Stop();
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

bool CV4l2Device::SupportsLayout(PixelLayout layout) const {
  if (m_fd < 0) {
    return false;
  }
  bool yuyv = false;
  bool bgr = false;
  for (std::uint32_t i = 0; i < 256; ++i) {
    v4l2_fmtdesc d{};
    d.index = i;
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(m_fd, VIDIOC_ENUM_FMT, &d) != 0) {
      break;
    }
    yuyv = yuyv || d.pixelformat == V4L2_PIX_FMT_YUYV;
    bgr = bgr || d.pixelformat == V4L2_PIX_FMT_BGR24;
  }
  return layout == PixelLayout::Yuy2 ? yuyv : (bgr || yuyv);
}

HRESULT CV4l2Device::SetFormat(FrameSize size, PixelLayout layout) {
  if (m_fd < 0) {
    return E_UNEXPECTED;
  }
  if (m_streaming) {
    return VFW_E_NOT_STOPPED;
  }
  const auto tryFormat = [&](std::uint32_t fourcc) {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = static_cast<std::uint32_t>(size.width);
    f.fmt.pix.height = static_cast<std::uint32_t>(size.height);
    f.fmt.pix.pixelformat = fourcc;
    f.fmt.pix.field = size.height > 288 ? V4L2_FIELD_INTERLACED : V4L2_FIELD_ANY;
    if (Xioctl(m_fd, VIDIOC_S_FMT, &f) != 0) {
      return false;
    }
    if (f.fmt.pix.pixelformat != fourcc || f.fmt.pix.width != static_cast<std::uint32_t>(size.width) ||
        f.fmt.pix.height != static_cast<std::uint32_t>(size.height)) {
      return false;
    }
    m_bytesPerLine = f.fmt.pix.bytesperline;
    return true;
  };
  bool ok = false;
  bool convert = false;
  if (layout == PixelLayout::Yuy2) {
    ok = tryFormat(V4L2_PIX_FMT_YUYV);
  } else {
    ok = tryFormat(V4L2_PIX_FMT_BGR24);
    if (!ok) {
      ok = tryFormat(V4L2_PIX_FMT_YUYV);
      convert = ok;
    }
  }
  if (!ok) {
    return VFW_E_INVALIDMEDIATYPE;
  }
  m_size = size;
  m_layout = layout;
  m_convertFromYuyv = convert;
  return S_OK;
}

HRESULT CV4l2Device::SetStandard(DWORD analogVideoStandard) {
  if (m_fd < 0) {
    return E_UNEXPECTED;
  }
  v4l2_std_id id = V4l2FromStandard(analogVideoStandard);
  if (id == 0) {
    return E_INVALIDARG;
  }
  return Xioctl(m_fd, VIDIOC_S_STD, &id) == 0 ? S_OK : E_FAIL;
}

DWORD CV4l2Device::Standards() const {
  if (m_fd < 0) {
    return 0;
  }
  DWORD avs = 0;
  for (std::uint32_t i = 0; i < 64; ++i) {
    v4l2_input in{};
    in.index = i;
    if (Xioctl(m_fd, VIDIOC_ENUMINPUT, &in) != 0) {
      break;
    }
    avs |= StandardsFromV4l2(in.std);
  }
  return avs;
}

HRESULT CV4l2Device::SetInput(int input) {
  if (m_fd < 0) {
    return E_UNEXPECTED;
  }
  int index = input;
  return Xioctl(m_fd, VIDIOC_S_INPUT, &index) == 0 ? S_OK : E_INVALIDARG;
}

int CV4l2Device::InputCount() const {
  int n = 0;
  while (m_fd >= 0 && n < 64) {
    v4l2_input in{};
    in.index = static_cast<std::uint32_t>(n);
    if (Xioctl(m_fd, VIDIOC_ENUMINPUT, &in) != 0) {
      break;
    }
    ++n;
  }
  return n;
}

void CV4l2Device::ApplyPictureControls(const PictureControls& controls) {
  if (m_fd < 0) {
    return;
  }
  const auto set = [&](std::uint32_t id, DWORD value) {
    v4l2_queryctrl q{};
    q.id = id;
    if (Xioctl(m_fd, VIDIOC_QUERYCTRL, &q) != 0 || (q.flags & V4L2_CTRL_FLAG_DISABLED) != 0) {
      return;
    }
    const long long range = static_cast<long long>(q.maximum) - q.minimum;
    v4l2_control c{};
    c.id = id;
    c.value = static_cast<std::int32_t>(q.minimum + range * std::min<DWORD>(value, kControlMax) / kControlMax);
    (void)Xioctl(m_fd, VIDIOC_S_CTRL, &c);
  };
  set(V4L2_CID_BRIGHTNESS, controls.brightness);
  set(V4L2_CID_CONTRAST, controls.contrast);
  set(V4L2_CID_SATURATION, controls.saturation);
  set(V4L2_CID_HUE, controls.hue);
  v4l2_control agc{};
  agc.id = V4L2_CID_AUTOGAIN;
  agc.value = controls.agc ? 1 : 0;
  (void)Xioctl(m_fd, VIDIOC_S_CTRL, &agc);
}

std::vector<V4l2Control> CV4l2Device::Controls() const {
  std::vector<V4l2Control> list;
  if (m_fd < 0) {
    return list;
  }
  v4l2_queryctrl q{};
  q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
  while (Xioctl(m_fd, VIDIOC_QUERYCTRL, &q) == 0) {
    if ((q.flags & V4L2_CTRL_FLAG_DISABLED) == 0 && q.type != V4L2_CTRL_TYPE_CTRL_CLASS) {
      v4l2_control c{};
      c.id = q.id;
      const std::int32_t value = Xioctl(m_fd, VIDIOC_G_CTRL, &c) == 0 ? c.value : q.default_value;
      list.push_back({q.id, Field(q.name, sizeof q.name), q.minimum, q.maximum, q.step, q.default_value, value});
    }
    q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
  }
  return list;
}

bool CV4l2Device::SetControlValue(std::uint32_t id, std::int32_t value) {
  if (m_fd < 0) {
    return false;
  }
  v4l2_control c{};
  c.id = id;
  c.value = value;
  return Xioctl(m_fd, VIDIOC_S_CTRL, &c) == 0;
}

HRESULT CV4l2Device::Start() {
  if (m_fd < 0 || m_size.width == 0) {
    return E_UNEXPECTED;
  }
  if (m_streaming) {
    return S_OK;
  }
  v4l2_requestbuffers req{};
  req.count = 4;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  if (Xioctl(m_fd, VIDIOC_REQBUFS, &req) != 0 || req.count == 0) {
    return E_OUTOFMEMORY;
  }
  for (std::uint32_t i = 0; i < req.count; ++i) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = i;
    if (Xioctl(m_fd, VIDIOC_QUERYBUF, &b) != 0) {
      Stop();
      return E_FAIL;
    }
    void* p = ::mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, b.m.offset);
    if (p == MAP_FAILED) {
      Stop();
      return E_OUTOFMEMORY;
    }
    m_buffers.push_back({p, b.length});
    if (Xioctl(m_fd, VIDIOC_QBUF, &b) != 0) {
      Stop();
      return E_FAIL;
    }
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Xioctl(m_fd, VIDIOC_STREAMON, &type) != 0) {
    Stop();
    return E_FAIL;
  }
  m_streaming = true;
  return S_OK;
}

void CV4l2Device::Stop() {
  if (m_fd >= 0 && m_streaming) {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    (void)Xioctl(m_fd, VIDIOC_STREAMOFF, &type);
  }
  m_streaming = false;
  for (const Buffer& b : m_buffers) {
    ::munmap(b.start, b.length);
  }
  if (m_fd >= 0 && !m_buffers.empty()) {
    v4l2_requestbuffers req{};
    req.count = 0;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    (void)Xioctl(m_fd, VIDIOC_REQBUFS, &req);
  }
  m_buffers.clear();
}

HRESULT CV4l2Device::ReadFrame(BYTE* dst, std::size_t dstBytes, int timeoutMs) {
  if (!m_streaming) {
    return VFW_E_NOT_RUNNING;
  }
  if (dst == nullptr || dstBytes < FrameBytes(m_layout, m_size)) {
    return E_INVALIDARG;
  }
  pollfd p{m_fd, POLLIN, 0};
  const int r = ::poll(&p, 1, timeoutMs);
  if (r == 0) {
    return S_FALSE;
  }
  if (r < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    return errno == EINTR ? S_FALSE : E_FAIL;
  }
  v4l2_buffer b{};
  b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  b.memory = V4L2_MEMORY_MMAP;
  if (Xioctl(m_fd, VIDIOC_DQBUF, &b) != 0) {
    return errno == EAGAIN ? S_FALSE : E_FAIL;
  }
  HRESULT hr = S_FALSE;  // a short or unknown buffer is skipped like a late frame
  if (b.index < m_buffers.size()) {
    const BYTE* src = static_cast<const BYTE*>(m_buffers[b.index].start);
    const LONG dstStride = FrameStride(m_layout, m_size.width);
    const LONG srcStride = m_bytesPerLine != 0 ? static_cast<LONG>(m_bytesPerLine)
                                                : m_size.width * (m_layout == PixelLayout::Yuy2 || m_convertFromYuyv ? 2 : 3);
    const std::size_t need = static_cast<std::size_t>(srcStride) * static_cast<std::size_t>(m_size.height);
    if ((b.bytesused >= need || b.bytesused == 0) && m_buffers[b.index].length >= need) {
      hr = S_OK;
      if (m_convertFromYuyv) {
        Yuy2ToRgb24Dib(src, srcStride, m_size.width, m_size.height, dst, dstStride);
      } else {
        const LONG rowBytes = m_size.width * (m_layout == PixelLayout::Yuy2 ? 2 : 3);
        for (LONG row = 0; row < m_size.height; ++row) {
          // V4L2 rows are top-down; RGB24 pictures are bottom-up DIBs.
          const LONG out = m_layout == PixelLayout::Rgb24 ? m_size.height - 1 - row : row;
          std::memcpy(dst + static_cast<std::ptrdiff_t>(out) * dstStride, src + static_cast<std::ptrdiff_t>(row) * srcStride,
                      static_cast<std::size_t>(rowBytes));
        }
      }
    }
  }
  (void)Xioctl(m_fd, VIDIOC_QBUF, &b);
  return hr;
}

}  // namespace halvard::capture
