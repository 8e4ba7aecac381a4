#pragma once

#include <QString>
#include <QVector>

namespace RomCmd {

// One line of "tarvo_manufacturing_tool --list": KIND DEVICE VID:PID SERIAL LOCATION, with "-"
// for what the platform does not give.
struct ListedDevice {
    QString kind;  // "uart" or "hid"
    QString device;
    QString ids;
    QString serial;
    QString location;

    // How -u names this device for good: its port location, else its serial number, else its
    // path.
    QString selector() const;
    bool matches(const QString& selector) const;
};

// The device lines of the listing; the header and anything else are skipped.
QVector<ListedDevice> parseListing(const QString& text);

}  // namespace RomCmd
