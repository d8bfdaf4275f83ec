#pragma once
/// Reading and patching the few ASF structures the sinks need: the header's packet
/// size and stream numbers, the file properties (duration, sizes, flags), and whether
/// a data packet carries the start of a video key frame.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::wmf::asf {

/// What the header tells about the file.
struct HeaderInfo {
  std::size_t headerBytes = 0;      ///< header object size (the data object follows)
  std::size_t filePropsOffset = 0;  ///< offset of the file properties object
  DWORD packetBytes = 0;            ///< fixed data packet size
  QWORD playDuration = 0;           ///< 100-ns units, preroll included
  QWORD prerollMs = 0;
  DWORD flags = 0;  ///< 1 broadcast, 2 seekable
  DWORD maxBitrate = 0;
  QWORD fileSize = 0;
  QWORD dataPackets = 0;
  int videoStream = 0;         ///< stream number of the first video stream, 0 if none
  DWORD streamBitrateSum = 0;  ///< sum of the stream bitrate records, 0 if absent
};

/// Parses the header (the bytes from offset 0 up to at least the data object's
/// header). False when it is not a well-formed ASF header.
[[nodiscard]] bool ParseHeader(std::span<const BYTE> bytes, HeaderInfo* info);

/// True when the packet holds the first payload (offset 0) of a key frame of the
/// stream. Malformed packets answer false.
[[nodiscard]] bool PacketStartsKeyFrame(std::span<const BYTE> packet, int streamNumber);

/// Send time (ms) of a data packet's last payload (send time plus packet duration), or
/// -1 when malformed.
[[nodiscard]] std::int64_t PacketSendTimeMs(std::span<const BYTE> packet);

/// Sets the broadcast flag in a header copy (live viewers must not expect a length).
void MarkBroadcast(std::vector<BYTE>* header, const HeaderInfo& info);

/// Completes a header for a file cut short: file size, packet count, durations and
/// the data object's size; clears the broadcast flag.
void CompleteHeader(std::vector<BYTE>* header, const HeaderInfo& info, QWORD fileSize, QWORD packets,
                    QWORD lastSendTimeMs);

}  // namespace halvard::wmf::asf
