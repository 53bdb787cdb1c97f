#pragma once

// Stream-socket helpers both ends of the relay share.

#include <cstdint>
#include <span>
#include <vector>

namespace korvane::relay {

// Writes all of `bytes` (blocking), with `passFd` attached to the first
// part as SCM_RIGHTS when it is not -1. False when the peer is gone or the
// socket failed. Never raises SIGPIPE.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes, int passFd = -1);

// Reads what is there into `into` (blocking until something is); file
// descriptors that came along are appended to `fds` (close-on-exec). The
// byte count, 0 at the end of the stream, -1 on an error.
long ReadSome(int fd, std::span<std::uint8_t> into, std::vector<int>* fds = nullptr);

// Makes the socket's send buffer as large as an unprivileged process may,
// so that a burst of frames waits there rather than in the capture ring.
void EnlargeSendBuffer(int fd);

} // namespace korvane::relay
