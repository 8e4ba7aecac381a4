// tarvo_bench_load: loads images of 1 MiB and 64 MiB through the engine into an unthrottled
// virtual device, over the UART and over USB-HID, and prints throughput, host CPU time per
// packet and the process's peak memory.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <memory>

#include "romcmd/RomCmd.h"
#include "tools/ImageFormat.h"
#include "transport/Framing.h"
#include "transport/SerialPortInfo.h"
#include "transport/UsbInfo.h"

namespace {

using RomCmd::ImageFormat::Header;

constexpr uint32_t kRamId = 0;
constexpr uint32_t kRamStart = 0x20000000;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kImageDataPerPacket = 508;
constexpr int kStartBoundMs = 10000;

struct Usage {
    double cpuSeconds;
    long maxRssKiB;
};

Usage usage() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                       double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    return {cpu, ru.ru_maxrss};
}

// Writes an image of `totalSize` bytes (header included) without holding it in memory.
bool writeImage(const QString& path, uint64_t totalSize) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    uint8_t header[RomCmd::ImageFormat::kHeaderSize] = {};
    file.write(reinterpret_cast<const char*>(header), sizeof(header));
    RomCmd::Crc16Xmodem crc;
    char block[65536];
    uint64_t left = totalSize - sizeof(header);
    uint32_t seed = 1;
    while (left > 0) {
        const size_t n = size_t(std::min<uint64_t>(sizeof(block), left));
        for (size_t i = 0; i < n; ++i) {
            seed = seed * 1103515245u + 12345u;
            block[i] = char(seed >> 16);
        }
        crc.update(reinterpret_cast<const uint8_t*>(block), n);
        if (file.write(block, qint64(n)) != qint64(n)) {
            return false;
        }
        left -= n;
    }
    Header h;
    h.totalSize = uint32_t(totalSize);
    h.loadMemory = kRamId;
    h.loadAddress = kRamStart;
    h.entry = kRamStart;
    h.dataCrc = crc.value();
    RomCmd::ImageFormat::encodeHeader(h, header);
    return file.seek(0) && file.write(reinterpret_cast<const char*>(header), sizeof(header)) ==
                               qint64(sizeof(header));
}

class Device {
public:
    ~Device() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    bool start(const QString& memoryMap, const QString& hidSocket) {
        process.setProgram(QCoreApplication::applicationDirPath() + "/tarvo_romsim");
        process.setArguments({"--memory-map", memoryMap, "--hid-socket", hidSocket});
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        QElapsedTimer timer;
        timer.start();
        if (!process.waitForStarted(kStartBoundMs)) {
            return false;
        }
        while (!process.canReadLine()) {
            if (process.state() != QProcess::Running || timer.hasExpired(kStartBoundMs)) {
                return false;
            }
            process.waitForReadyRead(100);
        }
        pty = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !pty.isEmpty();
    }

    QProcess process;
    QString pty;
};

void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtInfoMsg && type != QtDebugMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(quietHandler);
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString map = dir.filePath("map.json");
    {
        QFile file(map);
        if (!file.open(QIODevice::WriteOnly)) {
            return 1;
        }
        // 128 MiB of RAM in 1 KiB units.
        file.write(R"({"memories":[{"kind":"ram","id":0,"start":"0x20000000",)"
                   R"("unitShift":10,"unitCount":131072}]})");
    }
    const QString socket = dir.filePath("hid.sock");
    Device device;
    if (!device.start(map, socket)) {
        std::fprintf(stderr, "the virtual device did not start\n");
        return 1;
    }
    qputenv("TARVO_HIDSIM_SOCKET", socket.toLocal8Bit());

    const uint64_t sizes[] = {1 * kMiB, 64 * kMiB};
    std::printf("%-5s %8s %10s %16s %14s %14s %8s\n", "link", "MiB", "MiB/s", "cpu us/packet",
                "maxrss before", "maxrss after", "result");
    int failures = 0;
    for (const char* carrier : {"uart", "hid"}) {
        for (uint64_t size : sizes) {
            const QString image = dir.filePath(QString("image-%1.bin").arg(size));
            if (!QFile::exists(image) && !writeImage(image, size)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(image));
                return 1;
            }
            std::unique_ptr<RomCmd::RomCmd> engine;
            if (QByteArray(carrier) == "uart") {
                SerialPortInfo info;
                info.portName = device.pty;
                engine.reset(new RomCmd::RomCmd(QVariant::fromValue(info), 1));
            } else {
                const QStringList paths = RomCmd::RomCmd::usbDevicePaths(0x5E3A, 0);
                if (paths.isEmpty()) {
                    std::fprintf(stderr, "no HID device\n");
                    ++failures;
                    continue;
                }
                UsbInfo info;
                info.devicePath = paths.first();
                info.vid = 0x5E3A;
                engine.reset(new RomCmd::RomCmd(QVariant::fromValue(info), 2));
            }
            const Usage before = usage();
            QElapsedTimer timer;
            timer.start();
            const int result = engine->loadImage(image);
            const double seconds = double(timer.nsecsElapsed()) / 1e9;
            const Usage after = usage();
            const uint64_t packets = (size + kImageDataPerPacket - 1) / kImageDataPerPacket;
            std::printf("%-5s %8.0f %10.2f %16.2f %11ld KiB %10ld KiB %8d\n", carrier,
                        double(size) / double(kMiB), double(size) / double(kMiB) / seconds,
                        (after.cpuSeconds - before.cpuSeconds) * 1e6 / double(packets),
                        before.maxRssKiB, after.maxRssKiB, result);
            std::fflush(stdout);
            failures += result != 0;
        }
    }
    return failures == 0 ? 0 : 1;
}
