// The flood of bench/gui-peers, run by it inside the peer namespace: UDP
// datagrams evenly paced, so that a low rate reaches the measured tool one
// datagram at a time. Prints how many it sent.
//
//   bench_flood TARGET SIZE RATE SECONDS [numbered]
//
// numbered: each payload starts with the datagram's number (see FloodUdp).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/udp_flood.h"

int main(int argc, char** argv) {
    const bool numbered = argc == 6 && std::strcmp(argv[5], "numbered") == 0;
    if (argc != 5 && !numbered) {
        std::fprintf(stderr, "usage: bench_flood TARGET SIZE RATE SECONDS [numbered]\n");
        return 2;
    }
    const long sent = FloodUdp(argv[1], std::atoi(argv[2]), std::atol(argv[3]), std::atof(argv[4]),
                               Pacing::kEven, 1, numbered);
    if (sent < 0) {
        std::fprintf(stderr, "bench_flood: cannot send to %s\n", argv[1]);
        return 1;
    }
    std::printf("%ld\n", sent);
    return 0;
}
