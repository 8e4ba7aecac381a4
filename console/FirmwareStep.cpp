#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <memory>

#include "console/CommandParameters.h"
#include "console/FirmwareFiles.h"
#include "console/RomConsoleMode.h"
#include "romcmd/DeviceType.h"
#include "transport/Interruption.h"
#include "transport/ResultCode.h"

namespace RomCmd {

namespace {

constexpr int kMaxAttempts = 3;
constexpr int kReconnectPolls = 10;
constexpr unsigned long kReconnectPollMs = 1000;
constexpr unsigned long kUartDisconnectWaitMs = 3000;
// A device that keeps showing up after the load would otherwise stall the run forever.
constexpr unsigned long kUsbDisconnectPollMs = 100;
constexpr int kUsbDisconnectSleeps = 300;

// One firmware serves both series, whatever the case the series is written in.
QString seriesFolderName(const QString& series) {
    const QString upper = series.toUpper();
    if (upper.contains(QLatin1String("TV5100")) || upper.contains(QLatin1String("TV5200"))) {
        return QStringLiteral("TV5100_TV5200");
    }
    return upper;
}

}  // namespace

QString firmwareFolder(const QString& series) {
    return QCoreApplication::applicationDirPath() + "/bl_fw/" + seriesFolderName(series);
}

QString firmwareFile(const QString& series, const QString& selector) {
    bool ok = false;
    const bool isSigned = selector.toUInt(&ok, 10) == 1 && ok;
    return firmwareFolder(series) + '/' + seriesFolderName(series).toLower() +
           (isSigned ? "_blfw_signed.bin" : "_blfw_unsigned.bin");
}

bool RomConsoleMode::cmdLoadBlfw(const QStringList& tokens) {
    if (!hasTokenCount(tokens, 3)) {
        return false;
    }
    const QString folder = firmwareFolder(tokens.at(1));
    if (!QFileInfo::exists(folder)) {
        qCritical() << QString("Can not find blfw folder: " + folder);
        return false;
    }
    const QString file = firmwareFile(tokens.at(1), tokens.at(2));
    if (!QFileInfo::exists(file)) {
        qCritical() << QString("Can not find blfw path: " + file);
        return false;
    }
    runRecord.noteFile(file, false);
    const int status = noted(romCmd->loadImage(file));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Load BLFW failed!"
                                         << " bin path: " << file,
                             status);
    }
    return true;
}

void RomConsoleMode::runFirmwareStep() {
    if (!loadFirmware) {
        return;
    }
    if (!QFileInfo::exists(firmwarePath)) {
        qCritical() << "Can not find firmware path: " << firmwarePath;
        qCritical() << "Firmware will be ignored and will connect with ROM directly!";
        firmwareIgnored = true;
        return;
    }
    for (;;) {
        if (firmwareAttempts >= kMaxAttempts) {
            ++firmwareAttempts;
            break;
        }
        ++firmwareAttempts;
        if (loadFirmwareOnce()) {
            return;
        }
        bool back = false;
        for (int poll = 0; poll < kReconnectPolls; ++poll) {
            // An interrupted step is reported once by the run, not as a failed firmware.
            if (Interruption::requested()) {
                return;
            }
            if (isDevicePresent(false)) {
                back = true;
                break;
            }
            environment->sleepMs(kReconnectPollMs);
        }
        if (!back) {
            qCritical() << "Connect device timeout! Please reset the device manually!";
            break;
        }
    }
    qCritical() << "The firmware can not be loaded correctly and will be ignored!";
    firmwareIgnored = true;
}

bool RomConsoleMode::loadFirmwareOnce() {
    const QVariant record = deviceType == kSerialDevice ? QVariant::fromValue(serialParam)
                                                        : QVariant::fromValue(usbInfo);
    auto engine = std::make_unique<RomCmd>(record, deviceType);
    connect(engine.get(), &RomCmd::signalRTEQueried, this, &RomConsoleMode::slotRTEQueried);
    connect(engine.get(), &RomCmd::signalImageLoadProgress, this,
            &RomConsoleMode::slotImageLoadProgress);

    int status = engine->queryRte(0, 0);
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Query Rom status failed!", status);
    }
    if (firmwareLoaded == 1) {
        qInfo() << "Firmware has been load success!";
        return true;
    }
    status = engine->loadImage(firmwarePath);
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Load BLFW failed!"
                                         << " bin path: " << firmwarePath,
                             status);
    }
    qInfo() << "Load boot loader firmware success! Waiting the device disconnect, please don't "
               "operate the device!";
    int sleeps = 0;
    while (isDevicePresent(true)) {
        if (Interruption::requested()) {
            return false;
        }
        if (sleeps == kUsbDisconnectSleeps) {
            qCritical() << "Device did not disconnect within 30 seconds after the firmware load!";
            return false;
        }
        environment->sleepMs(kUsbDisconnectPollMs);
        ++sleeps;
    }
    qInfo() << "Waiting the device reconnect, please don't operate the device!";
    return false;
}

bool RomConsoleMode::isDevicePresent(bool waitingForDisconnection) {
    if (deviceType == kUsbDevice) {
        const QList<UsbInfo> attached = environment->usbDevices(0, 0);
        const UsbInfo* device = findSelectedUsbDevice(attached);
        if (device == nullptr) {
            return false;
        }
        // Found under another path, it has already left and come back.
        if (waitingForDisconnection) {
            return device->devicePath == usbInfo.devicePath;
        }
        followSelectedUsbDevice(*device);
        return true;
    }
    if (deviceType == kSerialDevice) {
        // A serial port stays listed while the device behind it restarts, so only time tells.
        if (waitingForDisconnection) {
            environment->sleepMs(kUartDisconnectWaitMs);
            return false;
        }
        for (const SerialPortEntry& entry : environment->serialPorts()) {
            if (DeviceEnvironment::portMatches(entry, serialParam.portName)) {
                return true;
            }
        }
        // The system list leaves out pseudo-terminals and the like; such a port is back when
        // its device node is.
        return !serialParam.portName.isEmpty() &&
               environment->isCharacterDevice(DeviceEnvironment::portPath(serialParam.portName));
    }
    return false;
}

bool RomConsoleMode::confirmSelectedUsbDevice() {
    const QList<UsbInfo> attached = environment->usbDevices(0, 0);
    const UsbInfo* device = findSelectedUsbDevice(attached);
    if (device != nullptr) {
        followSelectedUsbDevice(*device);
        return true;
    }
    for (const UsbInfo& other : attached) {
        if (other.devicePath == usbInfo.devicePath) {
            qCritical().noquote()
                << QString("The device at %1 is not the selected device!").arg(usbInfo.devicePath);
            selectedDeviceLost = true;
            return false;
        }
    }
    // Nothing at its path: the open says so.
    return true;
}

void RomConsoleMode::followSelectedUsbDevice(const UsbInfo& device) {
    if (device.devicePath != usbInfo.devicePath) {
        qInfo() << "The selected device has a new path: " << device.devicePath;
        usbInfo.devicePath = device.devicePath;
    }
}

bool RomConsoleMode::isSelectedUsbDevice(const UsbInfo& device) const {
    switch (usbIdentity) {
        case UsbIdentity::SerialNumber:
            return device.serialNumber == usbInfo.serialNumber;
        case UsbIdentity::Location:
            return device.location == usbInfo.location;
        case UsbIdentity::Path:
            break;
    }
    return device.devicePath == usbInfo.devicePath;
}

const UsbInfo* RomConsoleMode::findSelectedUsbDevice(const QList<UsbInfo>& attached) const {
    const UsbInfo* found = nullptr;
    for (const UsbInfo& device : attached) {
        if (isSelectedUsbDevice(device)) {
            // Two with one identity: neither is known to be the selected one.
            if (found != nullptr) {
                return nullptr;
            }
            found = &device;
        }
    }
    return found;
}

}  // namespace RomCmd
