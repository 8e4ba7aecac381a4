#pragma once

#include <QCommandLineParser>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <memory>

#include "console/DeviceEnvironment.h"
#include "console/RunRecord.h"
#include "romcmd/RomCmd.h"
#include "transport/SerialPortInfo.h"
#include "transport/UsbInfo.h"

namespace RomCmd {

// Turns the parsed options into one run of the tool: selects the device, creates
// the engine, dispatches each -r command, and prints what the engine reports.
class RomConsoleMode : public QObject {
    Q_OBJECT

public:
    explicit RomConsoleMode(QCommandLineParser& parser, QObject* parent = nullptr);
    ~RomConsoleMode() override;

    // Returns the process exit status (ExitStatus).
    int run();

    // Replaces how attached devices are listed and how the firmware step sleeps.
    void setEnvironment(std::shared_ptr<DeviceEnvironment> environment);

    // -l was given: the run only listed devices.
    bool listsDevices() const { return listDevices; }

    // The --record line of this run, built from what the run saw.
    QByteArray recordLine(int exitStatus, const QString& logFile) const;

    static QString statusText(int status);
    // Decimal first; only if that fails, hexadecimal.
    static uint32_t parseNumber(const QString& text, bool* ok);

private:
    // Tests reach the state and steps below through it alone (tests/console/ConsoleTestAccess.h).
    friend class ConsoleTestAccess;

    bool runRomApiCommands();

    // Device selection.
    bool selectSerialDevice(const QStringList& fields);
    bool selectUsbDevice(const QStringList& fields);
    bool autoDetectUsbDevice(uint32_t vid, uint32_t pid);
    // -l: the candidate devices as an aligned table, header first; nothing is opened.
    QStringList deviceListing(uint16_t vid, uint16_t pid) const;
    int printDeviceListing();

    // Dispatch through the command table of CommandDispatch.cpp.
    struct ConsoleCommand;
    static const ConsoleCommand* findCommand(const QString& name);
    bool dispatchCommand(const QString& command);
    bool dispatchTokens(const QString& command);
    static QStringList splitTokens(const QString& command);

    // Image editor mode.
    bool runImageCommand(const QString& command);
    bool cmdCreateImage(const QStringList& tokens);

    // Control commands.
    bool cmdQueryRte(const QStringList& tokens);
    bool cmdConfigRte(const QStringList& tokens);
    bool cmdReset(const QStringList& tokens);

    // Memory commands.
    bool cmdConfigMemory(const QStringList& tokens);
    bool cmdReadMemory(const QStringList& tokens);
    bool cmdWriteMemory(const QStringList& tokens);
    bool cmdVerifyChecksum(const QStringList& tokens);
    bool cmdEraseRegion(const QStringList& tokens);
    bool cmdEraseChip(const QStringList& tokens);
    bool cmdLoadImage(const QStringList& tokens);

    // Boot-loader firmware.
    bool cmdLoadBlfw(const QStringList& tokens);
    void runFirmwareStep();
    bool loadFirmwareOnce();
    bool isDevicePresent(bool waitingForDisconnection);
    // Before the engine opens the USB device again: follows it to a new path, or refuses
    // (false, with its critical line) when another device sits at its path.
    bool confirmSelectedUsbDevice();

    QJsonValue deviceRecord() const;
    QJsonObject firmwareRecord() const;

    static QString formatSize(uint64_t bytes);

    // The one write of memorySizeMb: the memory report sets it and the dispatcher clears it
    // before each erase's query; erase-region and erase-chip read it for their time-out.
    void setMemorySizeMb(uint64_t megabytes) { memorySizeMb = megabytes; }

    int32_t consoleType = 0;
    int32_t deviceType = 0;
    QStringList commandList;
    QString deviceParam;
    uint64_t timeout = 0;
    UsbInfo usbInfo;
    SerialPortInfo serialParam;
    RomCmd* romCmd = nullptr;
    uint64_t memorySizeMb = 0;
    bool loadFirmware = false;
    int32_t firmwareAttempts = 0;
    QString firmwarePath;
    int32_t firmwareLoaded = 0;
    // Set when the firmware step gave up and the commands ran against the ROM instead.
    bool firmwareIgnored = false;
    RunRecord runRecord;
    bool listDevices = false;
    // Set when another device took the selected one's path.
    bool selectedDeviceLost = false;

    // What tells the selected USB device apart from the others, chosen at selection.
    enum class UsbIdentity { Path, Location, SerialNumber };
    UsbIdentity usbIdentity = UsbIdentity::Path;

private slots:
    void slotRTEQueried(int rteId, QVariant variant);
    void slotMemoryReadProgress(uint32_t memoryId, uint32_t address, const uint8_t* value,
                                uint32_t length, uint32_t total, uint32_t progress);
    void slotMemory2FileReadProgress(int total, int progress);
    void slotMemoryWriteProgress(int total, int progress);
    void slotFile2MemoryWriteProgress(int total, int progress);
    void slotImageLoadProgress(int total, int progress);

private:
    bool selectUsbDeviceBy(const QString& text);
    void takeUsbDevice(const UsbInfo& device, const QList<UsbInfo>& attached);
    bool isSelectedUsbDevice(const UsbInfo& device) const;
    void followSelectedUsbDevice(const UsbInfo& device);
    // The one attached device with the selected identity, or none.
    const UsbInfo* findSelectedUsbDevice(const QList<UsbInfo>& attached) const;
    // Passes an engine result through, noting it and the ROM status for the run record.
    int noted(int status);

    std::shared_ptr<DeviceEnvironment> environment;
};

}  // namespace RomCmd
