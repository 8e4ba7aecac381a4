#pragma once

#include <gtest/gtest.h>
#include <QByteArray>
#include <QCommandLineParser>
#include <QList>
#include <QMap>
#include <QPair>
#include <QStringList>
#include <memory>
#include <ostream>

#include "console/DeviceEnvironment.h"
#include "console/RomConsoleMode.h"
#include "tests/common/LogCapture.h"
#include "tests/common/QtPrinters.h"
#include "tests/console/ConsoleTestAccess.h"
#include "transport/DeviceIO.h"

namespace RomCmd {
namespace Test {

// A boot ROM on the far side of the transport: records every packet, answers commands
// with status 0 unless scripted otherwise, and serves RTE records per item.
class FakeRom : public DeviceIO {
public:
    struct Reply {
        int result;
        QByteArray payload;  // header (4) + status (4) + data
    };

    int writePacket(const uint8_t* payload, uint16_t length) override;
    int readPacket(uint8_t* buffer, uint16_t* length) override;
    void setTimeout(int milliseconds) override;
    int readAck() override { return 0; }
    int sendResponse(uint8_t) override { return 0; }

    static QByteArray response(uint32_t romStatus, const QByteArray& data = {});
    static QByteArray dataPacket(const QByteArray& data);

    QList<QByteArray> written;
    QList<int> writeResults;  // consumed one per packet; 0 once empty
    // Consumed one per read; once empty, one status-0 response per exchange, then time-outs.
    QList<Reply> reads;
    QMap<uint32_t, QByteArray> rteRecords;
    QList<int> timeouts;

private:
    QByteArray lastCommand;
    bool responsePending = false;
};

class FakeEnvironment : public DeviceEnvironment {
public:
    QList<SerialPortEntry> serialPorts() const override;
    QList<UsbInfo> usbDevices(uint16_t vid, uint16_t pid) const override;
    void sleepMs(unsigned long) const override {}

    QList<SerialPortEntry> ports;
    QMap<QPair<uint16_t, uint16_t>, QStringList> usbPaths;
    QList<UsbInfo> usbEntries;  // listed after usbPaths, with their serial numbers and locations
    mutable int serialListings = 0;
    mutable QList<QPair<uint16_t, uint16_t>> usbQueries;
};

// A controller built from an empty command line, with an engine over a FakeRom whose
// signals reach the controller's report and progress slots.
class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    bool dispatch(const QString& command);
    void invokeRteSlot(int rteId, const QVariant& variant);
    void invokeDumpSlot(const QByteArray& bytes);
    void invokeProgressSlot(const char* slot, int total, int progress);

    std::unique_ptr<QCommandLineParser> parser;
    std::unique_ptr<RomConsoleMode> console;
    // The controller's private state and steps.
    std::unique_ptr<ConsoleTestAccess> access;
    std::shared_ptr<FakeEnvironment> environment;
    FakeRom* rom = nullptr;
    std::unique_ptr<LogCapture> log;
};

QString hex(const QByteArray& bytes);

}  // namespace Test
}  // namespace RomCmd
