#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <memory>

#include "romcmd/RteRecords.h"
#include "transport/DeviceIO.h"

class QFile;

namespace RomCmd {

enum LogLevel : int { LogDebug = 0, LogInfo = 1, LogWarning = 2, LogCritical = 3 };

// The ROM command engine: one object per connection to a device's boot ROM.
// Builds command payloads, runs exchanges over its transport, checks the ROM's
// answers and hands data and progress out through signals.
class RomCmd : public QObject {
    Q_OBJECT

public:
    // deviceType kSerialDevice: deviceInfo holds a SerialPortInfo; kUsbDevice: a UsbInfo.
    RomCmd(const QVariant& deviceInfo, int deviceType);
    // Takes an already created transport; used where the carrier is supplied from outside.
    RomCmd(std::unique_ptr<DeviceIO> transport, int deviceType, const QString& deviceId);
    ~RomCmd() override;

    void setCommandTimeout(uint32_t milliseconds);

    int queryRte(uint32_t rteId, uint32_t arg);
    int configRte(const uint8_t* record, int length);
    int configMemory(uint32_t memoryId, uint32_t address);
    int eraseRegion(uint32_t memoryId, uint32_t address, uint32_t length, uint64_t timeoutMs);
    int eraseAll(uint32_t memoryId, uint64_t timeoutMs);
    int resetDevice(uint32_t resetType);

    int readMemory(uint32_t memoryId, uint32_t address, uint32_t length, bool isShowLog);
    int readMemoryToFile(uint32_t memoryId, uint32_t address, uint32_t length,
                         const QString& filePath);
    int writeMemory(uint32_t memoryId, uint32_t address, const uint8_t* data, uint32_t length);
    int writeMemoryByFile(uint32_t memoryId, uint32_t address, const QString& filePath);
    int loadImage(const QString& filePath);
    int verifyChecksum(uint32_t memoryId, uint32_t address, const uint8_t* data, uint32_t length);
    int verifyChecksumByFile(uint32_t memoryId, uint32_t address, const QString& filePath,
                             uint64_t length);

    static QString statusMessage(int status);
    static QString resultMessage(int code);
    static QStringList usbDevicePaths(uint16_t vid, uint16_t pid);

    DeviceIO* transport() const { return io.get(); }
    // The ROM status of the last response read, once: false when none came since.
    bool takeRomStatus(uint32_t* status);

signals:
    void signalAddLogs(QString log, LogLevel level = LogDebug);
    void signalRTEQueried(int rteId, QVariant variant);
    void signalMemoryReadProgress(uint32_t memoryId, uint32_t address, uint8_t* value, int length,
                                  int total, int progress, bool isShowLog);
    void signalMemory2FileReadProgress(int total, int progress);
    void signalMemoryWriteProgress(int total, int progress);
    void signalFile2MemoryWriteProgress(int total, int progress);
    void signalImageLoadProgress(int total, int progress);

private:
    int checkResponse(int writeResult);
    int finish(const char* finishingText, int result);
    // Reads a command's response into `buffer` (zeroed first) and extracts the ROM status.
    int readResponse(uint8_t* buffer, uint32_t* romStatus);
    // Signal, critical line and result code for a response with an error status.
    int reportRomError(uint32_t romStatus, const char* idLabel, bool disallowedApplies);
    // Logs and returns a failure when there is no transport to talk through.
    int missingTransport();
    int readData(uint32_t memoryId, uint32_t address, uint32_t length, bool isShowLog,
                 const QString* filePath);
    // Where a read's data goes: take() gets each data packet and the bytes received so far
    // and returns a result code, end() runs once after the last one.
    struct ReadSink {
        std::function<int(const uint8_t* data, uint32_t size, uint32_t soFar)> take;
        std::function<void()> end;
        bool headerOnlyEnds;  // a header-only packet ends the data rather than keeping it alive
    };
    // Reads the data packets of `length` bytes into the sink; checks that all of them came.
    int readPackets(uint32_t length, const ReadSink& sink);
    int sendStream(uint8_t command, uint32_t memoryId, uint32_t address, const uint8_t* data,
                   QFile* file, uint64_t length, void (RomCmd::*progress)(int, int));
    int sendVerify(uint32_t memoryId, uint32_t address, uint32_t length, const uint8_t* digest);
    int runErase(const uint8_t* payload, uint16_t length, uint64_t timeoutMs);

    std::unique_ptr<DeviceIO> io;
    int32_t deviceType;
    QString id;
    bool fixedTimeout = false;
    bool romStatusSeen = false;
    uint32_t lastRomStatus = 0;

    static constexpr int kChunkSize = 512;
    uint8_t chunk[kChunkSize];
};

}  // namespace RomCmd

Q_DECLARE_METATYPE(RomCmd::LogLevel)
