// Reading a pcap or pcapng file packet by packet through libpcap, never more
// than one packet in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "packet_layers.h"

namespace zv::extract {

struct CapturedPacket {
  uint64_t number = 0;  // 1-based, as tshark and Wireshark count
  int64_t timeNs = 0;   // capture time, nanoseconds since the epoch
  Bytes data;           // the captured bytes (may be shorter than on the wire: snapshot length)
};

class CaptureFile {
 public:
  // Throws Failure "FILE: ..." when the file cannot be opened or is not a capture
  // libpcap reads, or uses a link type this reader does not take apart.
  explicit CaptureFile(const std::string& path);
  ~CaptureFile();
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  enum class Next { PACKET, END, DAMAGED };
  // The next packet, the end, or DAMAGED with DamageMessage() describing where
  // the file stops making sense (the packets before it were good).
  Next Read(CapturedPacket& packet);
  const std::string& DamageMessage() const { return damage_; }

  int LinkType() const { return linkType_; }
  const std::string& Path() const { return path_; }
  uint64_t PacketsRead() const { return count_; }
  // Bytes of the file consumed so far, and its size (for progress).
  uint64_t Position() const;
  uint64_t Size() const { return size_; }

 private:
  std::string path_;
  struct Handle;
  std::unique_ptr<Handle> handle_;
  int linkType_ = 0;
  uint64_t count_ = 0;
  uint64_t size_ = 0;
  std::string damage_;
};

}  // namespace zv::extract
