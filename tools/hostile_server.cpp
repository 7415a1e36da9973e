// A serial device server that misbehaves, for the hostile-input tests: it
// listens on 127.0.0.1, prints its port, and treats each connection as its
// mode says until its time is up.
//   hostile_server MODE SECONDS
// Modes:
//   flood       garbage as fast as the socket takes it
//   endless-sb  acknowledges the RFC 2217 settings, then one subnegotiation
//               that never ends
//   do-no-read  acknowledges the RFC 2217 settings, then asks IAC DO for
//               ever and never reads
//   silent      accepts and says nothing
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr unsigned char IAC = 255, SB = 250, SE = 240, DO = 253;

// The answer to SET-BAUDRATE that ends the program's RFC 2217 negotiation.
const unsigned char kBaudAck[] = {IAC, SB, 44, 101, 0, 0, 0x4B, 0x00, IAC, SE};

bool sendAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

void serve(int fd, const std::string& mode, std::chrono::steady_clock::time_point end) {
    std::mt19937 random(42);
    unsigned char block[16384];
    const auto fill = [&](bool avoidIac) {
        for (unsigned char& byte : block) {
            byte = static_cast<unsigned char>(random());
            if (avoidIac && byte == IAC)
                byte = 0;
        }
    };
    if (mode == "endless-sb" || mode == "do-no-read") {
        if (!sendAll(fd, kBaudAck, sizeof kBaudAck))
            return;
        // Give the program time to finish its open before the trouble.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    if (mode == "endless-sb") {
        const unsigned char start[] = {IAC, SB, 44};
        if (!sendAll(fd, start, sizeof start))
            return;
        fill(true);
    } else if (mode == "do-no-read") {
        for (size_t i = 0; i + 3 <= sizeof block; i += 3) {
            block[i] = IAC;
            block[i + 1] = DO;
            block[i + 2] = static_cast<unsigned char>(100 + i / 3 % 100);
        }
    } else {
        fill(false);
    }
    while (std::chrono::steady_clock::now() < end) {
        if (mode == "silent") {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        if (!sendAll(fd, block, sizeof block - sizeof block % 3))
            return;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hostile_server flood|endless-sb|do-no-read|silent SECONDS\n");
        return 1;
    }
    const std::string mode = argv[1];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::perror("hostile_server");
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    // Nobody is served past the end, however the program behaves.
    std::thread([end] {
        std::this_thread::sleep_until(end + std::chrono::seconds(1));
        std::_Exit(0);
    }).detach();
    while (std::chrono::steady_clock::now() < end) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            continue;
        std::thread([fd, mode, end] {
            serve(fd, mode, end);
            ::close(fd);
        }).detach();
    }
    return 0;
}
