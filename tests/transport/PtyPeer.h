#pragma once

#include <sys/types.h>
#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace RomCmd {

class SerialIO;

namespace Test {

// The device end of a pseudo-terminal: the transport opens the slave by name, the
// test reads and writes the master. Every wait here is bounded.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return master >= 0 && slave >= 0; }
    QString slavePath() const { return path; }  // "/dev/pts/N"
    int slaveFd() const { return slave; }
    dev_t slaveDevice() const;

    // Writes all bytes to the master within the bound; returns false when it ran out.
    bool feed(const QByteArray& bytes, int boundMs = 5000);
    // Writes the chunks from a thread, each after its delay (ms from the previous chunk).
    void feedLater(std::vector<std::pair<int, QByteArray>> chunks, int boundMs = 20000);
    // True while the thread of feedLater still has bytes to write.
    bool feeding() const { return feederBusy; }
    void joinFeeder();
    // Reads until `count` bytes arrived or `boundMs` passed.
    QByteArray take(int count, int boundMs);
    // Reads whatever arrives until nothing came for `quietMs`.
    QByteArray takeAll(int quietMs);
    void closeMaster();

private:
    int master = -1;
    int slave = -1;
    QString path;
    std::thread feeder;
    std::atomic<bool> feederBusy{false};
};

// Milliseconds on a monotonic clock.
qint64 monotonicMs();

// A UART transport on the peer's slave with the given read time-out.
std::unique_ptr<SerialIO> openSerialIO(const PtyPeer& peer, int timeoutMs);

}  // namespace Test
}  // namespace RomCmd
