#include "platform/wmf/AsfFormat.h"

#include <cstring>

#include "platform/com/Com.h"

namespace halvard::wmf::asf {
namespace {

HALVARD_DEFINE_GUID(kHeaderObject, 0x75B22630, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
HALVARD_DEFINE_GUID(kDataObject, 0x75B22636, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
HALVARD_DEFINE_GUID(kFileProperties, 0x8CABDCA1, 0xA947, 0x11CF, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
HALVARD_DEFINE_GUID(kStreamProperties, 0xB7DC0791, 0xA9B7, 0x11CF, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);
HALVARD_DEFINE_GUID(kVideoMedia, 0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0xAB, 0x6B);
HALVARD_DEFINE_GUID(kStreamBitrates, 0x7BF875CE, 0x468D, 0x11D1, 0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2);

constexpr std::size_t kHeaderObjectBytes = 30;
constexpr std::size_t kDataObjectHeaderBytes = 50;
// Offsets inside the file properties object.
constexpr std::size_t kFpFileSize = 40;
constexpr std::size_t kFpPackets = 56;
constexpr std::size_t kFpPlayDuration = 64;
constexpr std::size_t kFpSendDuration = 72;
constexpr std::size_t kFpPreroll = 80;
constexpr std::size_t kFpFlags = 88;
constexpr std::size_t kFpMinPacket = 92;
constexpr std::size_t kFpMaxBitrate = 100;
constexpr std::size_t kFpBytes = 104;

template <class T>
T Load(const BYTE* p) {
  T v{};
  std::memcpy(&v, p, sizeof(T));  // ASF is little-endian, as is this machine
  return v;
}
template <class T>
void Store(BYTE* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}
bool IsGuid(const BYTE* p, const GUID& guid) { return std::memcmp(p, &guid, sizeof(GUID)) == 0; }

// Width of a field from its two-bit length type.
constexpr std::size_t FieldBytes(unsigned type) { return type == 3 ? 4 : type; }

DWORD LoadField(const BYTE* p, std::size_t bytes) {
  switch (bytes) {
    case 1:
      return p[0];
    case 2:
      return Load<WORD>(p);
    case 4:
      return Load<DWORD>(p);
    default:
      return 0;
  }
}

// Walks the packet's payloads; `visit(streamByte, offset)` returns true to stop.
template <class Visit>
bool WalkPayloads(std::span<const BYTE> packet, std::int64_t* sendTime, Visit visit) {
  const BYTE* p = packet.data();
  const BYTE* end = p + packet.size();
  auto need = [&](std::size_t n) { return static_cast<std::size_t>(end - p) >= n; };
  if (!need(1)) {
    return false;
  }
  if ((p[0] & 0x80) != 0) {
    const std::size_t ecBytes = p[0] & 0x0F;
    if (!need(1 + ecBytes)) {
      return false;
    }
    p += 1 + ecBytes;
  }
  if (!need(2)) {
    return false;
  }
  const BYTE lengthFlags = p[0];
  const BYTE propertyFlags = p[1];
  p += 2;
  const std::size_t packetLengthBytes = FieldBytes((lengthFlags >> 5) & 3);
  const std::size_t sequenceBytes = FieldBytes((lengthFlags >> 1) & 3);
  const std::size_t paddingBytes = FieldBytes((lengthFlags >> 3) & 3);
  if (!need(packetLengthBytes + sequenceBytes + paddingBytes + 6)) {
    return false;
  }
  p += packetLengthBytes + sequenceBytes;
  const DWORD padding = LoadField(p, paddingBytes);
  p += paddingBytes;
  if (sendTime != nullptr) {
    // Send time plus the packet's duration: the time of its last payload.
    *sendTime = static_cast<std::int64_t>(Load<DWORD>(p)) + Load<WORD>(p + 4);
  }
  p += 6;
  const std::size_t replicatedLenBytes = FieldBytes(propertyFlags & 3);
  const std::size_t offsetBytes = FieldBytes((propertyFlags >> 2) & 3);
  const std::size_t objectBytes = FieldBytes((propertyFlags >> 4) & 3);
  const bool multiple = (lengthFlags & 1) != 0;
  std::size_t payloads = 1;
  std::size_t payloadLenBytes = 0;
  if (multiple) {
    if (!need(1)) {
      return false;
    }
    payloads = p[0] & 0x3F;
    payloadLenBytes = FieldBytes((p[0] >> 6) & 3);
    ++p;
  }
  for (std::size_t i = 0; i < payloads; ++i) {
    if (!need(1 + objectBytes + offsetBytes + replicatedLenBytes)) {
      return false;
    }
    const BYTE streamByte = p[0];
    p += 1 + objectBytes;
    const DWORD offset = LoadField(p, offsetBytes);
    p += offsetBytes;
    const DWORD replicated = LoadField(p, replicatedLenBytes);
    p += replicatedLenBytes;
    if (!need(replicated)) {
      return false;
    }
    p += replicated;
    if (visit(streamByte, offset)) {
      return true;
    }
    if (!multiple) {
      break;
    }
    if (!need(payloadLenBytes)) {
      return false;
    }
    const DWORD length = LoadField(p, payloadLenBytes);
    p += payloadLenBytes;
    if (!need(length)) {
      return false;
    }
    p += length;
  }
  (void)padding;
  return true;
}

}  // namespace

bool ParseHeader(std::span<const BYTE> bytes, HeaderInfo* info) {
  *info = HeaderInfo{};
  if (bytes.size() < kHeaderObjectBytes || !IsGuid(bytes.data(), kHeaderObject)) {
    return false;
  }
  const QWORD headerBytes = Load<QWORD>(bytes.data() + 16);
  if (headerBytes < kHeaderObjectBytes || headerBytes > bytes.size()) {
    return false;
  }
  info->headerBytes = static_cast<std::size_t>(headerBytes);
  std::size_t pos = kHeaderObjectBytes;
  bool haveFileProps = false;
  while (pos + 24 <= info->headerBytes) {
    const BYTE* object = bytes.data() + pos;
    const QWORD size = Load<QWORD>(object + 16);
    if (size < 24 || size > info->headerBytes - pos) {
      return false;
    }
    if (IsGuid(object, kFileProperties) && size >= kFpBytes) {
      haveFileProps = true;
      info->filePropsOffset = pos;
      info->fileSize = Load<QWORD>(object + kFpFileSize);
      info->dataPackets = Load<QWORD>(object + kFpPackets);
      info->playDuration = Load<QWORD>(object + kFpPlayDuration);
      info->prerollMs = Load<QWORD>(object + kFpPreroll);
      info->flags = Load<DWORD>(object + kFpFlags);
      info->packetBytes = Load<DWORD>(object + kFpMinPacket);
      info->maxBitrate = Load<DWORD>(object + kFpMaxBitrate);
    } else if (IsGuid(object, kStreamProperties) && size >= 74) {
      const WORD flags = Load<WORD>(object + 72);
      if (info->videoStream == 0 && IsGuid(object + 24, kVideoMedia)) {
        info->videoStream = flags & 0x7F;
      }
    } else if (IsGuid(object, kStreamBitrates) && size >= 26) {
      const WORD records = Load<WORD>(object + 24);
      if (26 + static_cast<QWORD>(records) * 6 <= size) {
        for (WORD r = 0; r < records; ++r) {
          info->streamBitrateSum += Load<DWORD>(object + 26 + r * 6 + 2);
        }
      }
    }
    pos += static_cast<std::size_t>(size);
  }
  if (!haveFileProps || info->packetBytes == 0) {
    return false;
  }
  return bytes.size() < info->headerBytes + 16 || IsGuid(bytes.data() + info->headerBytes, kDataObject);
}

bool PacketStartsKeyFrame(std::span<const BYTE> packet, int streamNumber) {
  bool found = false;
  (void)WalkPayloads(packet, nullptr, [&](BYTE streamByte, DWORD offset) {
    found = (streamByte & 0x7F) == streamNumber && (streamByte & 0x80) != 0 && offset == 0;
    return found;
  });
  return found;
}

std::int64_t PacketSendTimeMs(std::span<const BYTE> packet) {
  std::int64_t sendTime = -1;
  if (!WalkPayloads(packet, &sendTime, [](BYTE, DWORD) { return true; })) {
    return -1;
  }
  return sendTime;
}

void MarkBroadcast(std::vector<BYTE>* header, const HeaderInfo& info) {
  if (info.filePropsOffset + kFpBytes > header->size()) {
    return;
  }
  BYTE* fp = header->data() + info.filePropsOffset;
  Store<DWORD>(fp + kFpFlags, (Load<DWORD>(fp + kFpFlags) | 1u) & ~2u);
}

void CompleteHeader(std::vector<BYTE>* header, const HeaderInfo& info, QWORD fileSize, QWORD packets,
                    QWORD lastSendTimeMs) {
  if (info.filePropsOffset + kFpBytes > header->size() || info.headerBytes + kDataObjectHeaderBytes > header->size()) {
    return;
  }
  BYTE* fp = header->data() + info.filePropsOffset;
  // The last packet's send time is its first payload's time; the preroll is part of
  // the play duration.
  const QWORD playDuration = (lastSendTimeMs + info.prerollMs) * 10000;
  Store<QWORD>(fp + kFpFileSize, fileSize);
  Store<QWORD>(fp + kFpPackets, packets);
  Store<QWORD>(fp + kFpPlayDuration, playDuration);
  Store<QWORD>(fp + kFpSendDuration, playDuration);
  Store<DWORD>(fp + kFpFlags, (Load<DWORD>(fp + kFpFlags) & ~1u) | 2u);
  BYTE* data = header->data() + info.headerBytes;
  Store<QWORD>(data + 16, kDataObjectHeaderBytes + packets * info.packetBytes);
  Store<QWORD>(data + 40, packets);
}

}  // namespace halvard::wmf::asf
