// The metadata editor reads the header attributes of a recording straight from its
// ASF header: the durations and sizes of the file properties, the streams' bitrates.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/wmf/AsfFormat.h"
#include "platform/wmf/ComObject.h"
#include "platform/wmf/Wmf.h"

namespace halvard::wmf {
namespace {

constexpr QWORD kMaxHeaderBytes = 16 * 1024 * 1024;

class CWMMetadataEditor final : public CComObject<IWMMetadataEditor, IWMHeaderInfo> {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IWMMetadataEditor) {
      return Hand(static_cast<IWMMetadataEditor*>(this), ppv);
    }
    if (riid == IID_IWMHeaderInfo) {
      return Hand(static_cast<IWMHeaderInfo*>(this), ppv);
    }
    return E_NOINTERFACE;
  }

  HRESULT Open(const char* path) override {
    if (path == nullptr) {
      return E_POINTER;
    }
    m_open = false;
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) {
      return NS_E_FILE_OPEN_FAILED;
    }
    std::vector<BYTE> head(30);
    if (std::fread(head.data(), 1, head.size(), file.get()) != head.size()) {
      return NS_E_INVALID_DATA;
    }
    QWORD headerBytes = 0;
    std::memcpy(&headerBytes, head.data() + 16, sizeof(headerBytes));
    if (headerBytes < 30 || headerBytes > kMaxHeaderBytes) {
      return NS_E_INVALID_DATA;
    }
    head.resize(static_cast<std::size_t>(headerBytes) + 16);
    const std::size_t rest = head.size() - 30;
    if (std::fread(head.data() + 30, 1, rest, file.get()) != rest) {
      return NS_E_INVALID_DATA;
    }
    if (!asf::ParseHeader(head, &m_info)) {
      return NS_E_INVALID_DATA;
    }
    m_open = true;
    return S_OK;
  }

  HRESULT Close() override {
    m_open = false;
    return S_OK;
  }
  HRESULT Flush() override { return m_open ? S_OK : NS_E_INVALID_REQUEST; }

  HRESULT GetAttributeByName(WORD* streamNumber, const char* name, WMT_ATTR_DATATYPE* type, BYTE* value,
                             WORD* length) override {
    if (streamNumber == nullptr || name == nullptr || type == nullptr || length == nullptr) {
      return E_POINTER;
    }
    if (!m_open) {
      return NS_E_INVALID_REQUEST;
    }
    if (*streamNumber != 0) {
      return NS_E_NO_STREAM;
    }
    const std::string attribute = name;
    const QWORD prerollTime = m_info.prerollMs * 10000;
    if (attribute == "Duration") {
      return Put<QWORD>(m_info.playDuration > prerollTime ? m_info.playDuration - prerollTime : 0, WMT_TYPE_QWORD, type,
                        value, length);
    }
    if (attribute == "Bitrate") {
      return Put<DWORD>(m_info.streamBitrateSum != 0 ? m_info.streamBitrateSum : m_info.maxBitrate, WMT_TYPE_DWORD,
                        type, value, length);
    }
    if (attribute == "FileSize") {
      return Put<QWORD>(m_info.fileSize, WMT_TYPE_QWORD, type, value, length);
    }
    if (attribute == "Seekable") {
      return Put<BOOL>((m_info.flags & 2) != 0 ? TRUE : FALSE, WMT_TYPE_BOOL, type, value, length);
    }
    if (attribute == "Broadcast") {
      return Put<BOOL>((m_info.flags & 1) != 0 ? TRUE : FALSE, WMT_TYPE_BOOL, type, value, length);
    }
    return NS_E_NO_STREAM;
  }

 private:
  template <class T>
  static HRESULT Put(T data, WMT_ATTR_DATATYPE dataType, WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length) {
    *type = dataType;
    if (value == nullptr) {
      *length = sizeof(T);
      return S_OK;
    }
    if (*length < sizeof(T)) {
      *length = sizeof(T);
      return ASF_E_BUFFERTOOSMALL;
    }
    std::memcpy(value, &data, sizeof(T));
    *length = sizeof(T);
    return S_OK;
  }

  bool m_open = false;
  asf::HeaderInfo m_info;
};

}  // namespace
}  // namespace halvard::wmf

HRESULT WMCreateEditor(IWMMetadataEditor** editor) {
  if (editor == nullptr) {
    return E_POINTER;
  }
  *editor = new halvard::wmf::CWMMetadataEditor();
  return S_OK;
}
