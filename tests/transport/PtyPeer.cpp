#include "PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QVariant>
#include <cerrno>
#include <chrono>

#include "transport/SerialIO.h"
#include "transport/SerialPortInfo.h"

namespace RomCmd {
namespace Test {

qint64 monotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<SerialIO> openSerialIO(const PtyPeer& peer, int timeoutMs) {
    SerialPortInfo info;
    info.portName = peer.slavePath();
    auto io = std::make_unique<SerialIO>(QVariant::fromValue(info));
    io->setTimeout(timeoutMs);
    return io;
}

namespace {

bool writeAllBounded(int fd, const QByteArray& bytes, qint64 deadline) {
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const qint64 left = deadline - monotonicMs();
        if (left <= 0)
            return false;
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(left));
    }
    return true;
}

}  // namespace

PtyPeer::PtyPeer() {
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        master = slave = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    // Raw from the start, so nothing echoes before the transport sets the line.
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() {
    joinFeeder();
    closeMaster();
    if (slave >= 0)
        ::close(slave);
}

dev_t PtyPeer::slaveDevice() const {
    struct stat info {};
    ::fstat(slave, &info);
    return info.st_rdev;
}

bool PtyPeer::feed(const QByteArray& bytes, int boundMs) {
    return writeAllBounded(master, bytes, monotonicMs() + boundMs);
}

void PtyPeer::feedLater(std::vector<std::pair<int, QByteArray>> chunks, int boundMs) {
    joinFeeder();
    const int fd = master;
    feederBusy = true;
    feeder = std::thread([this, fd, chunks, boundMs] {
        const qint64 deadline = monotonicMs() + boundMs;
        for (const auto& chunk : chunks) {
            std::this_thread::sleep_for(std::chrono::milliseconds(chunk.first));
            if (!writeAllBounded(fd, chunk.second, deadline))
                break;
        }
        feederBusy = false;
    });
}

void PtyPeer::joinFeeder() {
    if (feeder.joinable())
        feeder.join();
}

QByteArray PtyPeer::take(int count, int boundMs) {
    QByteArray result;
    const qint64 deadline = monotonicMs() + boundMs;
    char chunk[4096];
    while (result.size() < count) {
        const qint64 left = deadline - monotonicMs();
        if (left <= 0)
            break;
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n =
            ::read(master, chunk, std::min<size_t>(sizeof chunk, count - result.size()));
        if (n > 0)
            result.append(chunk, static_cast<int>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return result;
}

QByteArray PtyPeer::takeAll(int quietMs) {
    QByteArray result;
    char chunk[4096];
    for (;;) {
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, quietMs) <= 0)
            break;
        const ssize_t n = ::read(master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        result.append(chunk, static_cast<int>(n));
    }
    return result;
}

void PtyPeer::closeMaster() {
    joinFeeder();
    if (master >= 0)
        ::close(master);
    master = -1;
}

}  // namespace Test
}  // namespace RomCmd
