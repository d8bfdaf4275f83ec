// The file sink: every packet goes to the file with one positioned write as it
// arrives, so that whatever the process leaves behind when it dies is a file that
// ends at most one packet short. The header is completed in place when the stream
// ends, when the sink is closed early, or when a write fails.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wmf/AsfFormat.h"
#include "platform/wmf/ComObject.h"
#include "platform/wmf/Wmf.h"

namespace halvard::wmf {
namespace {

HRESULT WriteError(int error) { return error == ENOSPC || error == EDQUOT ? NS_E_DISK_FULL : NS_E_FILE_WRITE; }

class CWriterFileSink final : public CComObject<IWMWriterFileSink2> {
 public:
  ~CWriterFileSink() override { (void)Close(); }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMWriterSink || riid == IID_IWMWriterFileSink ||
        riid == IID_IWMWriterFileSink2) {
      return Hand(static_cast<IWMWriterFileSink2*>(this), ppv);
    }
    return E_NOINTERFACE;
  }

  HRESULT Open(const char* path) override {
    if (path == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    (void)CloseLocked();
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      return NS_E_FILE_OPEN_FAILED;
    }
    m_fd = fd;
    ResetStream();
    return S_OK;
  }

  HRESULT Close() override {
    const std::scoped_lock lock(m_mutex);
    return CloseLocked();
  }

  HRESULT IsClosed(BOOL* closed) override {
    if (closed == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    *closed = m_fd < 0 ? TRUE : FALSE;
    return S_OK;
  }

  HRESULT GetFileSize(QWORD* bytes) override {
    if (bytes == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    *bytes = m_end;
    return S_OK;
  }

  HRESULT GetWriteStatus(HRESULT* status) override {
    if (status == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    *status = m_fd < 0 ? S_FALSE : m_failure;
    return S_OK;
  }

  HRESULT IsRealTime(BOOL* realTime) override {
    if (realTime == nullptr) {
      return E_POINTER;
    }
    *realTime = FALSE;  // a file that cannot be written must stop the writer
    return S_OK;
  }

  HRESULT OnHeader(const BYTE* header, DWORD bytes) override {
    if (header == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    if (m_fd < 0) {
      return S_OK;  // not open: nothing to record
    }
    asf::HeaderInfo info;
    if (!asf::ParseHeader({header, bytes}, &info)) {
      return NS_E_INVALID_DATA;
    }
    if (!m_header.empty()) {
      // A new stream into the same file replaces the previous one.
      if (::ftruncate(m_fd, 0) != 0) {
        return Failed(WriteError(errno));
      }
      ResetStream();
    }
    m_header.assign(header, header + bytes);
    m_info = info;
    if (!WriteAt(header, bytes, 0)) {
      return m_failure;
    }
    m_end = bytes;
    return S_OK;
  }

  HRESULT OnDataUnit(const BYTE* packet, DWORD bytes, DWORD /*flags*/) override {
    if (packet == nullptr) {
      return E_POINTER;
    }
    const std::scoped_lock lock(m_mutex);
    if (m_fd < 0 || m_header.empty() || m_ended) {
      return S_OK;
    }
    if (FAILED(m_failure)) {
      return m_failure;
    }
    if (!WriteAt(packet, bytes, m_end)) {
      // Keep the file at its last whole packet so that it stays readable.
      (void)::ftruncate(m_fd, static_cast<off_t>(m_end));
      CompleteOwnHeader();
      return m_failure;
    }
    m_end += bytes;
    ++m_packets;
    const std::int64_t sendTime = asf::PacketSendTimeMs({packet, bytes});
    if (sendTime >= 0) {
      m_lastSendMs = static_cast<QWORD>(sendTime);
    }
    return S_OK;
  }

  HRESULT OnEndWriting(const BYTE* trailer, DWORD trailerBytes, const BYTE* finalHeader,
                       DWORD finalHeaderBytes) override {
    const std::scoped_lock lock(m_mutex);
    if (m_fd < 0 || m_header.empty() || m_ended) {
      return S_OK;
    }
    if (FAILED(m_failure)) {
      CompleteOwnHeader();
      return m_failure;
    }
    m_ended = true;
    if (trailerBytes > 0 && trailer != nullptr) {
      if (!WriteAt(trailer, trailerBytes, m_end)) {
        (void)::ftruncate(m_fd, static_cast<off_t>(m_end));
        CompleteOwnHeader();
        return m_failure;
      }
      m_end += trailerBytes;
    }
    if (finalHeader != nullptr && finalHeaderBytes == m_header.size()) {
      if (!WriteAt(finalHeader, finalHeaderBytes, 0)) {
        return m_failure;
      }
    } else {
      CompleteOwnHeader();
    }
    return m_failure;
  }

 private:
  void ResetStream() {
    m_header.clear();
    m_info = {};
    m_end = 0;
    m_packets = 0;
    m_lastSendMs = 0;
    m_ended = false;
    m_failure = S_OK;
  }

  HRESULT Failed(HRESULT hr) {
    if (SUCCEEDED(m_failure)) {
      m_failure = hr;
    }
    return m_failure;
  }

  // Positioned write of all bytes; false (and m_failure set) on any failure.
  bool WriteAt(const BYTE* data, std::size_t bytes, QWORD offset) {
    while (bytes > 0) {
      const ssize_t written = ::pwrite(m_fd, data, bytes, static_cast<off_t>(offset));
      if (written < 0) {
        if (errno == EINTR) {
          continue;
        }
        Failed(WriteError(errno));
        return false;
      }
      if (written == 0) {
        Failed(NS_E_FILE_WRITE);
        return false;
      }
      data += written;
      bytes -= static_cast<std::size_t>(written);
      offset += static_cast<QWORD>(written);
    }
    return true;
  }

  // Writes the header with the counts of what this file holds (no index). The
  // header's blocks exist already, so this succeeds on a full disk too.
  void CompleteOwnHeader() {
    if (m_header.empty()) {
      return;
    }
    std::vector<BYTE> header = m_header;
    asf::CompleteHeader(&header, m_info, m_end, m_packets, m_lastSendMs);
    (void)WriteAt(header.data(), header.size(), 0);  // a failure stays in m_failure
    m_ended = true;
  }

  HRESULT CloseLocked() {
    if (m_fd < 0) {
      return S_FALSE;
    }
    if (!m_header.empty() && !m_ended) {
      CompleteOwnHeader();
    }
    if (::close(m_fd) != 0) {
      Failed(NS_E_FILE_WRITE);
    }
    m_fd = -1;
    const HRESULT result = m_failure;
    m_header.clear();
    return result;
  }

  std::mutex m_mutex;
  int m_fd = -1;
  std::vector<BYTE> m_header;
  asf::HeaderInfo m_info;
  QWORD m_end = 0;
  QWORD m_packets = 0;
  QWORD m_lastSendMs = 0;
  bool m_ended = false;
  HRESULT m_failure = S_OK;
};

}  // namespace
}  // namespace halvard::wmf

HRESULT WMCreateWriterFileSink(IWMWriterFileSink** sink) {
  if (sink == nullptr) {
    return E_POINTER;
  }
  *sink = new halvard::wmf::CWriterFileSink();
  return S_OK;
}
