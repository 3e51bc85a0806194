#include "capture_file.h"

#include <fmt/format.h>
#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "../failure.h"

namespace zv::extract {

struct CaptureFile::Handle {
  pcap_t* pcap = nullptr;
  FILE* file = nullptr;  // owned by pcap once opened
  ~Handle() {
    if (pcap) pcap_close(pcap);
  }
};

CaptureFile::CaptureFile(const std::string& path) : path_(path), handle_(new Handle) {
  // The file is opened here so that its errors read like the rest of the
  // tool's, and so that its position can be asked for progress.
  // "-" is standard input: tcpdump -w - | zelk-voice extract - -o calls/
  const bool standardInput = path == "-";
  std::error_code ec;
  if (!standardInput && std::filesystem::is_directory(path, ec)) {
    throw Failure(fmt::format("{}: a directory, not a capture", path));
  }
  handle_->file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (!handle_->file) throw Failure(fmt::format("{}: {}", path, std::strerror(errno)));
  size_ = standardInput ? 0 : std::filesystem::file_size(path, ec);
  if (ec) size_ = 0;
  if (!standardInput && !ec && size_ == 0) {
    std::fclose(handle_->file);
    handle_->file = nullptr;
    throw Failure(fmt::format("{}: empty file, not a capture", path));
  }
  char err[PCAP_ERRBUF_SIZE] = {};
  handle_->pcap =
      pcap_fopen_offline_with_tstamp_precision(handle_->file, PCAP_TSTAMP_PRECISION_NANO, err);
  if (!handle_->pcap) {
    std::fclose(handle_->file);
    handle_->file = nullptr;
    // libpcap says "unknown file format" or "truncated dump file" here; a file
    // too short for a header is empty or not a capture either way.
    throw Failure(fmt::format("{}: not a pcap or pcapng capture ({})", path, err));
  }
  linkType_ = pcap_datalink(handle_->pcap);
  if (!LinkTypeSupported(linkType_)) {
    const char* name = pcap_datalink_val_to_name(linkType_);
    throw Failure(fmt::format(
        "{}: link type {} ({}) is not one zelk-voice reads (Ethernet, Linux cooked v1/v2, "
        "BSD loopback, raw IP)",
        path, linkType_, name ? name : "unknown"));
  }
}

CaptureFile::~CaptureFile() = default;

CaptureFile::Next CaptureFile::Read(CapturedPacket& p) {
  if (!damage_.empty()) return Next::DAMAGED;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  const int rc = pcap_next_ex(handle_->pcap, &header, &data);
  if (rc == PCAP_ERROR_BREAK) return Next::END;
  if (rc != 1) {
    // libpcap's own words ("truncated dump file; tried to read 1480 captured
    // bytes, only got 212", "block type ... in pcapng dump file", ...).
    damage_ = fmt::format("{}: packet {}: damaged capture: {}", path_, count_ + 1,
                          pcap_geterr(handle_->pcap));
    return Next::DAMAGED;
  }
  ++count_;
  p.number = count_;
  p.timeNs = int64_t{header->ts.tv_sec} * 1'000'000'000 + int64_t{header->ts.tv_usec};
  p.data = Bytes(data, header->caplen);
  return Next::PACKET;
}

uint64_t CaptureFile::Position() const {
  FILE* f = pcap_file(handle_->pcap);
  if (!f) return 0;
  const long pos = std::ftell(f);
  return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

}  // namespace zv::extract
