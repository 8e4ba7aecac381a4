// The far end of a COM port for the Win32 serial tests under wine: a pseudo-terminal whose
// master follows commands that the test writes into the line, so the test decides when each
// byte arrives. Prints the slave's path as its first line and runs until SIGINT/SIGTERM or
// until its lifetime is over.
//
// A command is 8 bytes: 'L' 'P' op count gap(16-bit LE, ms) delay(16-bit LE, ms)
//   op 'S': after delay, send count bytes 0x01, 0x02, ... with gap between two bytes
//   op 'H': stop reading the line for good, so the writer's buffer fills up
// Anything else in the line is discarded.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void sendPattern(int master, int count, int gapMs, int delayMs) {
    sleepMs(delayMs);
    for (int i = 0; i < count && !stopRequested; ++i) {
        if (i > 0)
            sleepMs(gapMs);
        const unsigned char byte = static_cast<unsigned char>(i + 1);
        if (::write(master, &byte, 1) != 1)
            return;
    }
}

int usage() {
    std::fprintf(stderr, "usage: tarvo_linepeer [--link PATH] [--lifetime-s N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string link;
    int lifetimeS = 600;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--link" && i + 1 < argc) {
            link = argv[++i];
        } else if (arg == "--lifetime-s" && i + 1 < argc) {
            lifetimeS = std::atoi(argv[++i]);
            if (lifetimeS <= 0)
                return usage();
        } else {
            return usage();
        }
    }

    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("tarvo_linepeer: openpty");
        return 1;
    }
    // Raw from the start so nothing echoes; the slave stays open here so that the test's
    // closes never hang the line up.
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(name, link.c_str()) != 0) {
            std::perror("tarvo_linepeer: symlink");
            return 1;
        }
    }
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::printf("%s\n", name);
    std::fflush(stdout);

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetimeS);
    unsigned char command[8];
    size_t have = 0;
    bool holding = false;
    while (!stopRequested && std::chrono::steady_clock::now() < end) {
        if (holding) {
            sleepMs(100);
            continue;
        }
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0)
            continue;
        unsigned char byte = 0;
        const ssize_t n = ::read(master, &byte, 1);
        if (n != 1) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            sleepMs(10);  // no opener at the moment
            continue;
        }
        // Resynchronise on the two marker bytes.
        if ((have == 0 && byte != 'L') || (have == 1 && byte != 'P')) {
            have = byte == 'L' ? 1 : 0;
            command[0] = byte;
            continue;
        }
        command[have++] = byte;
        if (have < sizeof command)
            continue;
        have = 0;
        const int count = command[3];
        const int gapMs = command[4] | (command[5] << 8);
        const int delayMs = command[6] | (command[7] << 8);
        if (command[2] == 'S')
            sendPattern(master, count, gapMs, delayMs);
        else if (command[2] == 'H')
            holding = true;
    }
    if (!link.empty())
        ::unlink(link.c_str());
    return 0;
}
