#include <QtDebug>
#include <cstring>

#include "console/ProgressMessage.h"
#include "console/RomConsoleMode.h"
#include "romcmd/CommandTables.h"
#include "romcmd/HexText.h"

namespace RomCmd {

namespace {

constexpr uint64_t kKilo = 1024;
constexpr uint64_t kMega = kKilo * 1024;
constexpr uint64_t kGiga = kMega * 1024;
constexpr int kDumpBytesPerLine = 16;

// A variant of another type that does not convert reads as an all-zero record.
template <typename Record>
Record recordFrom(const QVariant& variant) {
    Record record;
    std::memset(&record, 0, sizeof(record));
    if (variant.userType() == qMetaTypeId<Record>()) {
        std::memcpy(&record, variant.constData(), sizeof(record));
    } else if (variant.canConvert<Record>()) {
        QVariant copy = variant;
        if (copy.convert(qMetaTypeId<Record>())) {
            std::memcpy(&record, copy.constData(), sizeof(record));
        }
    }
    return record;
}

// Character from the top byte, then three decimal numbers: 0x46010203 is F1.2.3.
QString versionText(uint32_t value) {
    return QStringLiteral("%1%2.%3.%4")
        .arg(QString(QChar(ushort(value >> 24))), QString::number((value >> 16) & 0xFF),
             QString::number((value >> 8) & 0xFF), QString::number(value & 0xFF));
}

// The report's own names, which differ in places from the ROM's command names.
QString lastCommandName(uint8_t code) {
    switch (code) {
        case 1:
            return QStringLiteral("query-rte");
        case 2:
            return QStringLiteral("config-rte");
        case 3:
            return QStringLiteral("configure-memory");
        case 4:
            return QStringLiteral("write-memory");
        case 5:
            return QStringLiteral("read-memory");
        case 6:
            return QStringLiteral("load-image");
        case 7:
            return QStringLiteral("erase");
        case 8:
            return QStringLiteral("reset");
        case 9:
            return QStringLiteral("gen-fwbob");
        default:
            return QStringLiteral("Unknown command");
    }
}

// Codes 0, 2 and 9 are never listed.
const int kListedCommandCodes[] = {1, 3, 4, 5, 6, 7, 8, 10};

}  // namespace

QString RomConsoleMode::formatSize(uint64_t bytes) {
    const unsigned long long n = bytes;
    if (n < kKilo) {
        return QString::asprintf("%llu bytes", n);
    }
    if (n < kMega) {
        return n % kKilo ? QString::asprintf("%.2f Kbytes", double(n) / kKilo)
                         : QString::asprintf("%llu Kbytes", n / kKilo);
    }
    if (n < kGiga) {
        return n % kMega ? QString::asprintf("%.2f Mbytes", double(n) / kMega)
                         : QString::asprintf("%llu Mbytes", n / kMega);
    }
    return n % kGiga ? QString::asprintf("%.2f Gbytes", double(n) / kGiga)
                     : QString::asprintf("%llu Gbytes", n / kGiga);
}

void RomConsoleMode::slotRTEQueried(int rteId, QVariant variant) {
    switch (rteId) {
        case 0: {
            const auto info = recordFrom<RomParamInfo>(variant);
            const QString version = versionText(info.romVersion);
            qInfo() << "ROM Version: " << version;
            if (loadFirmware) {
                // The one write of firmwareLoaded: the firmware step reads it to stop once the
                // firmware runs, the run record to name the step's outcome.
                firmwareLoaded =
                    (version.startsWith(QLatin1Char('F')) || version.startsWith(QLatin1Char('f')))
                        ? 1
                        : 0;
            }
            const QString lifeCycle =
                QStringLiteral("%1").arg(uint(info.lifeCycle), 2, 16, QLatin1Char('0'));
            qInfo() << "SoC Revision: " << versionText(info.socRevision);
            qInfo() << "SoC LifeCycle: " << lifeCycle;
            runRecord.noteRom(version, versionText(info.socRevision), lifeCycle);
            const QMap<uint32_t, QString>& names = capabilityNames();
            for (auto it = names.constBegin(); it != names.constEnd(); ++it) {
                if (info.capabilities & it.key()) {
                    qInfo() << it.value();
                }
            }
            break;
        }
        case 1: {
            const auto info = recordFrom<SerialInfParam>(variant);
            if (info.periphMask == 1) {
                qInfo() << "Active peripheral: UART";
                qInfo() << "Baud Rate: " << info.speed;
            } else if (info.periphMask == 16) {
                qInfo() << "Active peripheral: USB-HID";
            }
            break;
        }
        case 2: {
            const auto info = recordFrom<CmdStatusInfo>(variant);
            qInfo() << "Last Command Status Info:"
                    << "\r\nLast Command: " << lastCommandName(info.lastCommand)
                    << "\r\nLast Command Status: " << info.lastStatus;
            break;
        }
        case 3: {
            const auto info = recordFrom<BootStatusInfo>(variant);
            qInfo() << "Last Boot Status Info:"
                    << "\r\nboot mode: " << unsigned(info.bootMode)
                    << "\r\nboot device: " << info.bootDevice
                    << "\r\nboot status: " << info.bootStatus;
            break;
        }
        case 4: {
            const auto info = recordFrom<MemoryAttribute>(variant);
            const uint32_t unitSize = uint32_t(1) << (info.unitShift & 0x1F);
            const uint32_t size = memorySizeBytes(info);
            qInfo() << "Memory Property:"
                    << "\r\nMemory identifier: " << hex8(info.memoryId)
                    << "\r\nMemory unit size: " << qPrintable(formatSize(unitSize))
                    << "\r\nMemory start address: " << hex8(info.startAddress)
                    << "\r\nMemory end address: " << hex8(info.endAddress)
                    << "\r\nMemory Size: " << qPrintable(formatSize(size));
            setMemorySizeMb(size / kMega);
            if (info.memoryType == kPagedMemoryType) {
                qInfo() << "Page Size: " << qPrintable(formatSize(info.pageSize))
                        << "\r\nSector Size: " << qPrintable(formatSize(info.sectorSize))
                        << "\r\nBlock Size: " << qPrintable(formatSize(info.blockSize));
            }
            break;
        }
        case 5: {
            bool ok = false;
            uint32_t mask = variant.toUInt(&ok);
            if (!ok) {
                mask = 0;
            }
            QStringList listed;
            const QMap<int, QString>& names = supportedCommandNames();
            for (int code : kListedCommandCodes) {
                if (mask & (uint32_t(1) << code)) {
                    listed.append(names.value(code));
                }
            }
            qInfo().noquote().nospace()
                << "Supported commands:\r\n" + listed.join(QStringLiteral("\r\n"));
            break;
        }
        default:
            break;
    }
}

void RomConsoleMode::slotMemoryReadProgress(uint32_t, uint32_t, const uint8_t* value,
                                            uint32_t length, uint32_t, uint32_t progress) {
    runRecord.noteBytes(progress);
    if (value == nullptr) {
        return;
    }
    QString line;
    for (uint32_t i = 0; i < length; ++i) {
        if (i != 0 && i % kDumpBytesPerLine == 0) {
            qInfo() << line;
            line.clear();
        }
        line += QStringLiteral("%1 ").arg(uint(value[i]), 2, 16, QLatin1Char('0'));
    }
    if (!line.isEmpty()) {
        qInfo() << line;
    }
}

void RomConsoleMode::slotMemory2FileReadProgress(int total, int progress) {
    runRecord.noteBytes(uint32_t(progress));
    logProgress("Read Memory to File.", total, progress);
}

void RomConsoleMode::slotMemoryWriteProgress(int total, int progress) {
    runRecord.noteBytes(uint32_t(progress));
    logProgress("Write Memory.", total, progress);
}

void RomConsoleMode::slotFile2MemoryWriteProgress(int total, int progress) {
    runRecord.noteBytes(uint32_t(progress));
    logProgress("Write File to Memory.", total, progress);
}

void RomConsoleMode::slotImageLoadProgress(int total, int progress) {
    runRecord.noteBytes(uint32_t(progress));
    logProgress("Load Image.", total, progress);
}

}  // namespace RomCmd
