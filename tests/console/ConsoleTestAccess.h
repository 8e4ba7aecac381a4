#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "console/RomConsoleMode.h"

namespace RomCmd {

// The one way tests reach a controller's private state and steps. Built over a controller,
// its members stand for the controller's own: `ConsoleTestAccess(console).deviceType = 2`
// sets the controller's field. It must not outlive the controller.
class ConsoleTestAccess {
public:
    using UsbIdentity = RomConsoleMode::UsbIdentity;

    explicit ConsoleTestAccess(RomConsoleMode& console)
        : consoleType(console.consoleType),
          deviceType(console.deviceType),
          commandList(console.commandList),
          deviceParam(console.deviceParam),
          timeout(console.timeout),
          usbInfo(console.usbInfo),
          serialParam(console.serialParam),
          romCmd(console.romCmd),
          memorySizeMb(console.memorySizeMb),
          loadFirmware(console.loadFirmware),
          firmwareAttempts(console.firmwareAttempts),
          firmwarePath(console.firmwarePath),
          firmwareLoaded(console.firmwareLoaded),
          firmwareIgnored(console.firmwareIgnored),
          listDevices(console.listDevices),
          selectedDeviceLost(console.selectedDeviceLost),
          usbIdentity(console.usbIdentity),
          console(console) {}

    int32_t& consoleType;
    int32_t& deviceType;
    QStringList& commandList;
    QString& deviceParam;
    uint64_t& timeout;
    UsbInfo& usbInfo;
    SerialPortInfo& serialParam;
    RomCmd*& romCmd;
    uint64_t& memorySizeMb;
    bool& loadFirmware;
    int32_t& firmwareAttempts;
    QString& firmwarePath;
    int32_t& firmwareLoaded;
    bool& firmwareIgnored;
    bool& listDevices;
    bool& selectedDeviceLost;
    UsbIdentity& usbIdentity;

    bool runRomApiCommands() { return console.runRomApiCommands(); }
    bool selectSerialDevice(const QStringList& fields) {
        return console.selectSerialDevice(fields);
    }
    bool selectUsbDevice(const QStringList& fields) { return console.selectUsbDevice(fields); }
    bool dispatchCommand(const QString& command) { return console.dispatchCommand(command); }
    bool runImageCommand(const QString& command) { return console.runImageCommand(command); }
    bool cmdLoadBlfw(const QStringList& tokens) { return console.cmdLoadBlfw(tokens); }
    void runFirmwareStep() { console.runFirmwareStep(); }
    bool loadFirmwareOnce() { return console.loadFirmwareOnce(); }
    bool isDevicePresent(bool waitingForDisconnection) {
        return console.isDevicePresent(waitingForDisconnection);
    }
    bool confirmSelectedUsbDevice() { return console.confirmSelectedUsbDevice(); }

    static QStringList splitTokens(const QString& command) {
        return RomConsoleMode::splitTokens(command);
    }
    static QString formatSize(uint64_t bytes) { return RomConsoleMode::formatSize(bytes); }

private:
    RomConsoleMode& console;
};

}  // namespace RomCmd
