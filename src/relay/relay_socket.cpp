#include "relay/relay_socket.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvane::relay {

namespace {
constexpr int kSendBufferBytes = 4 * 1024 * 1024; // the kernel caps it at net.core.wmem_max
} // namespace

bool WriteAll(int fd, std::span<const std::uint8_t> bytes, int passFd) {
    while (!bytes.empty()) {
        iovec part{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        if (passFd >= 0) {
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            cmsghdr* header = CMSG_FIRSTHDR(&message);
            if (header == nullptr)
                return false;
            header->cmsg_level = SOL_SOCKET;
            header->cmsg_type = SCM_RIGHTS;
            header->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(header), &passFd, sizeof(int));
        }
        const auto n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        passFd = -1; // it went with the first bytes
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

long ReadSome(int fd, std::span<std::uint8_t> into, std::vector<int>* fds) {
    for (;;) {
        iovec part{into.data(), into.size()};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))] = {};
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const auto n = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
                continue;
            const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int passed = -1;
                std::memcpy(&passed, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
                if (fds != nullptr)
                    fds->push_back(passed);
                else
                    ::close(passed); // nobody asked for one: never leak it
            }
        }
        return static_cast<long>(n);
    }
}

void EnlargeSendBuffer(int fd) {
    const int size = kSendBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

} // namespace korvane::relay
