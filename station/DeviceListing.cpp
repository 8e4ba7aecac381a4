#include "station/DeviceListing.h"

#include <QRegularExpression>
#include <QStringList>

namespace RomCmd {

namespace {

const QLatin1String kUnknown("-");
const QLatin1String kPortPrefix("port:");
const QLatin1String kSerialPrefix("serial:");

QString known(const QString& field) {
    return field == kUnknown ? QString() : field;
}

}  // namespace

QString ListedDevice::selector() const {
    if (!location.isEmpty()) {
        return kPortPrefix + location;
    }
    if (!serial.isEmpty()) {
        return kSerialPrefix + serial;
    }
    return device;
}

bool ListedDevice::matches(const QString& selector) const {
    if (selector.startsWith(kPortPrefix)) {
        return !location.isEmpty() && selector.mid(kPortPrefix.size()) == location;
    }
    if (selector.startsWith(kSerialPrefix)) {
        return !serial.isEmpty() && selector.mid(kSerialPrefix.size()) == serial;
    }
    return selector == device;
}

QVector<ListedDevice> parseListing(const QString& text) {
    QVector<ListedDevice> devices;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QStringList fields = line.trimmed().split(blanks, Qt::SkipEmptyParts);
        if (fields.size() != 5 ||
            (fields.at(0) != QLatin1String("uart") && fields.at(0) != QLatin1String("hid"))) {
            continue;
        }
        devices.append({fields.at(0), fields.at(1), known(fields.at(2)), known(fields.at(3)),
                        known(fields.at(4))});
    }
    return devices;
}

}  // namespace RomCmd
