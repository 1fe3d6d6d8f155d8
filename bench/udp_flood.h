#pragma once
// The benchmarks' bounded UDP sender: datagrams of `size` bytes (IPv4 and UDP
// headers included) to port 9999 of `target`, `rate` a second (0: as fast as
// it goes), for `seconds`, through sendmmsg. It stops by itself. With
// `ports` above 1 the datagrams go to ports 9999 and up in turn: as many
// conversations. Numbered, each payload starts with the datagram's number,
// so that no two rows of a monitor's list read alike.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

enum class Pacing {
    kBursts,  // a whole batch of 32 as soon as one datagram is due
    kEven,    // only what is due, then asleep until the next one: a low rate
              // arrives one datagram at a time, as a person's traffic does
};

// How many datagrams were sent, or -1 when the socket or the address failed.
inline long FloodUdp(const char* target, int size, long rate, double seconds, Pacing pacing,
                     int ports = 1, bool numbered = false) {
    using Clock = std::chrono::steady_clock;
    std::vector<sockaddr_in> to(static_cast<size_t>(std::clamp(ports, 1, 65535 - 9999)));
    for (size_t i = 0; i < to.size(); ++i) {
        to[i].sin_family = AF_INET;
        to[i].sin_port = htons(static_cast<uint16_t>(9999 + i));
        if (inet_pton(AF_INET, target, &to[i].sin_addr) != 1)
            return -1;
    }
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    const int payload = std::max(1, size - 28);
    constexpr long kBatch = 32;
    std::vector<char> data(static_cast<size_t>(payload) * kBatch, 'q');
    mmsghdr msgs[kBatch] = {};
    iovec iov[kBatch];
    for (long i = 0; i < kBatch; ++i) {
        iov[i] = {data.data() + i * payload, static_cast<size_t>(payload)};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }
    size_t next = 0;  // the port the next datagram goes to
    const auto start = Clock::now();
    auto after = [start](double s) {
        return start +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    };
    const Clock::time_point end = after(seconds);
    long sent = 0;
    for (auto now = start; now < end; now = Clock::now()) {
        long batch = kBatch;
        if (rate > 0) {
            const double elapsed = std::chrono::duration<double>(now - start).count();
            const long due = static_cast<long>(std::floor(elapsed * static_cast<double>(rate)));
            if (sent >= due) {
                if (pacing == Pacing::kBursts) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                } else {
                    std::this_thread::sleep_until(
                        std::min(end, after(static_cast<double>(sent + 1) / rate)));
                }
                continue;
            }
            if (pacing == Pacing::kEven)
                batch = std::min(kBatch, due - sent);
        }
        for (long i = 0; i < batch; ++i) {
            msgs[i].msg_hdr.msg_name = &to[(next + static_cast<size_t>(i)) % to.size()];
            if (numbered) {
                char number[24];
                const int n = std::snprintf(number, sizeof number, "%ld ", sent + i);
                std::copy_n(number, std::min(n, payload), data.data() + i * payload);
            }
        }
        const int n = sendmmsg(s, msgs, static_cast<unsigned>(batch), 0);
        if (n > 0) {
            sent += n;
            next = (next + static_cast<size_t>(n)) % to.size();
        }
    }
    close(s);
    return sent;
}
