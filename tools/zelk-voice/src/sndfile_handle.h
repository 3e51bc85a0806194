// A libsndfile handle that closes itself.
#pragma once

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <memory>

namespace zv {

struct SndfileCloser {
  void operator()(SNDFILE* sf) const { sf_close(sf); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

// Opens a descriptor for reading. libsndfile closes the descriptor it is
// given when it cannot open it, whatever it is told, so it gets a copy of its
// own; the caller's stays open either way, and could otherwise be closed twice
// while another thread has reused its number.
inline SndfileHandle OpenSndfileForReading(int fd, SF_INFO& info) {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  return SndfileHandle(sf_open_fd(copy, SFM_READ, &info, SF_TRUE));
}

}  // namespace zv
