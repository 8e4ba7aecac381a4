#include "console/RomConsoleMode.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QJsonObject>

#include "console/ExitStatus.h"
#include "console/FirmwareFiles.h"
#include "romcmd/DeviceType.h"
#include "transport/Interruption.h"
#include "transport/ResultCode.h"

namespace RomCmd {

namespace {

// "<series>,<0|1>" names a firmware of the tool's own folder; one field is a file path.
QString firmwarePathFor(const QString& value) {
    const QStringList fields = value.split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (fields.size() == 1) {
        return fields.at(0);
    }
    if (fields.size() != 2) {
        return QString();
    }
    return firmwareFile(fields.at(0), fields.at(1));
}

}  // namespace

RomConsoleMode::RomConsoleMode(QCommandLineParser& parser, QObject* parent)
    : QObject(parent), environment(std::make_shared<DeviceEnvironment>()) {
    runRecord.start(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("i"))) {
        consoleType = 1;
    } else {
        if (parser.isSet(QStringLiteral("p"))) {
            deviceType = kSerialDevice;
            deviceParam = parser.value(QStringLiteral("p"));
        } else if (parser.isSet(QStringLiteral("u"))) {
            deviceType = kUsbDevice;
            deviceParam = parser.value(QStringLiteral("u"));
        }

        timeout = 0;
        if (parser.isSet(QStringLiteral("t"))) {
            bool ok = false;
            const uint32_t value = parser.value(QStringLiteral("t")).toUInt(&ok, 10);
            if (ok) {
                timeout = value;
            } else {
                qWarning() << "timeout value format error, default timeout value will be used.";
            }
        }

        if (parser.isSet(QStringLiteral("f"))) {
            loadFirmware = true;
            firmwarePath = firmwarePathFor(parser.value(QStringLiteral("f")));
        }
    }
    commandList = parser.values(QStringLiteral("r"));
    listDevices = parser.isSet(QStringLiteral("l"));
}

RomConsoleMode::~RomConsoleMode() {
    // Deleted at once: no event loop runs afterwards, and only the engine's transport closes
    // the device and clears its exclusive-use flag.
    delete romCmd;
    romCmd = nullptr;
}

int RomConsoleMode::run() {
    if (consoleType == 1) {
        qInfo() << "Run Imgage Edit Commands:";
        const QStringList commands = commandList;
        for (const QString& command : commands) {
            if (Interruption::requested()) {
                return Interruption::exitStatus();
            }
            if (!runImageCommand(command)) {
                if (Interruption::requested()) {
                    return Interruption::exitStatus();
                }
                qCritical() << "Run command failed!"
                            << " command: " << command;
                return ExitCommandFailed;
            }
        }
        return ExitSuccess;
    }

    if (listDevices) {
        return printDeviceListing();
    }
    if (deviceType == 0) {
        qCritical() << "Please select device type! 'p' is serial port, 'u' is usb device.";
        return ExitNoDevice;
    }

    qDebug() << "Parse device info: " << deviceParam;
    const QStringList fields = deviceParam.split(QLatin1Char(','), Qt::KeepEmptyParts);
    const bool selected =
        deviceType == kSerialDevice ? selectSerialDevice(fields) : selectUsbDevice(fields);
    if (!selected) {
        return ExitNoDevice;
    }
    if (!runRomApiCommands()) {
        if (Interruption::requested()) {
            return Interruption::exitStatus();
        }
        return selectedDeviceLost ? ExitNoDevice : ExitCommandFailed;
    }
    // Without a command to fail, a device that never opened would otherwise pass as a success.
    const DeviceIO* io = romCmd->transport();
    if (io == nullptr || io->status == ResultOpenFailed) {
        return ExitNoDevice;
    }
    return firmwareIgnored ? ExitFirmwareIgnored : ExitSuccess;
}

bool RomConsoleMode::runRomApiCommands() {
    runFirmwareStep();
    if (Interruption::requested()) {
        return false;
    }

    // A second call keeps the engine it has: the device is already open through it.
    const bool created = romCmd == nullptr;
    // The device left and came back: its path may now belong to another board.
    if (created && deviceType == kUsbDevice && firmwareAttempts > 0 &&
        !confirmSelectedUsbDevice()) {
        return false;
    }
    if (created) {
        if (deviceType == kUsbDevice) {
            romCmd = new RomCmd(QVariant::fromValue(usbInfo), kUsbDevice);
        } else {
            romCmd = new RomCmd(QVariant::fromValue(serialParam), kSerialDevice);
        }
    }
    romCmd->setCommandTimeout(uint32_t(timeout));
    if (created) {
        connect(romCmd, &RomCmd::signalRTEQueried, this, &RomConsoleMode::slotRTEQueried);
        connect(romCmd, &RomCmd::signalMemoryReadProgress, this,
                &RomConsoleMode::slotMemoryReadProgress);
        connect(romCmd, &RomCmd::signalMemory2FileReadProgress, this,
                &RomConsoleMode::slotMemory2FileReadProgress);
        connect(romCmd, &RomCmd::signalMemoryWriteProgress, this,
                &RomConsoleMode::slotMemoryWriteProgress);
        connect(romCmd, &RomCmd::signalFile2MemoryWriteProgress, this,
                &RomConsoleMode::slotFile2MemoryWriteProgress);
        connect(romCmd, &RomCmd::signalImageLoadProgress, this,
                &RomConsoleMode::slotImageLoadProgress);
    }

    qInfo() << "Run Rom API Commands:";
    const QStringList commands = commandList;
    for (const QString& command : commands) {
        // A signal stops the run between commands; main reports it once.
        if (Interruption::requested()) {
            return false;
        }
        if (!dispatchCommand(command)) {
            if (!Interruption::requested()) {
                qCritical() << "Run command failed!"
                            << " command: " << command;
            }
            return false;
        }
    }
    return true;
}

namespace {

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// 0 is what a selection that takes any ID leaves: the ID is not known then.
QJsonValue usbId(int32_t value) {
    if (value == 0) {
        return QJsonValue();
    }
    return QStringLiteral("%1").arg(uint(value) & 0xFFFF, 4, 16, QLatin1Char('0'));
}

}  // namespace

QJsonValue RomConsoleMode::deviceRecord() const {
    if (consoleType == 1 || deviceType == 0) {
        return QJsonValue();
    }
    if (deviceType == kSerialDevice) {
        return QJsonObject{{"carrier", "uart"},
                           {"port", textOrNull(serialParam.portName)},
                           {"baud", serialParam.baudRate}};
    }
    return QJsonObject{{"carrier", "hid"},
                       {"path", textOrNull(usbInfo.devicePath)},
                       {"vid", usbId(usbInfo.vid)},
                       {"pid", usbId(usbInfo.pid)},
                       {"serial", textOrNull(usbInfo.serialNumber)},
                       {"location", textOrNull(usbInfo.location)}};
}

QJsonObject RomConsoleMode::firmwareRecord() const {
    QString step;
    if (!loadFirmware) {
        step = QStringLiteral("not asked");
    } else if (firmwareIgnored) {
        step = QStringLiteral("gave up");
    } else if (firmwareLoaded == 1) {
        // Found running at the first look, or running after a load and a reconnection.
        step = firmwareAttempts <= 1 ? QStringLiteral("already running") : QStringLiteral("loaded");
    } else {
        step = QStringLiteral("interrupted");
    }
    QJsonObject object{{"step", step}, {"attempts", firmwareAttempts}};
    object.insert("file", loadFirmware && QFileInfo(firmwarePath).isFile()
                              ? QJsonValue(RunRecord::fileObject(firmwarePath, false))
                              : QJsonValue());
    return object;
}

QByteArray RomConsoleMode::recordLine(int exitStatus, const QString& logFile) const {
    return runRecord.line(deviceRecord(), firmwareRecord(), exitStatus, logFile);
}

int RomConsoleMode::noted(int status) {
    uint32_t romStatus = 0;
    const bool hasRomStatus = romCmd != nullptr && romCmd->takeRomStatus(&romStatus);
    runRecord.noteResult(status, hasRomStatus, romStatus);
    return status;
}

void RomConsoleMode::setEnvironment(std::shared_ptr<DeviceEnvironment> newEnvironment) {
    environment =
        newEnvironment ? std::move(newEnvironment) : std::make_shared<DeviceEnvironment>();
}

}  // namespace RomCmd
