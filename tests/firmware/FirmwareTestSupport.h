#pragma once

#include <QCommandLineParser>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "console/DeviceEnvironment.h"
#include "console/RomConsoleMode.h"

// Lets GoogleTest print texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace RomCmd {
namespace Test {

// Every message of the process while it lives, as (level, composed text).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QList<QPair<QtMsgType, QString>> messages() const;
    QStringList texts(QtMsgType type) const;
    int count(const QString& text) const;
    // All messages, one per line with a level letter, for failure output.
    QString dump() const;
};

// Presence answers come from a script; sleeps are recorded and slept at most realSleepCapMs.
class FakeEnvironment : public DeviceEnvironment {
public:
    QList<SerialPortEntry> serialPorts() const override;
    QStringList usbDevicePaths(uint16_t vid, uint16_t pid) const override;
    void sleepMs(unsigned long milliseconds) const override;

    // Called once per listing; true lists the device, false leaves it out.
    std::function<bool(int call)> present = [](int) { return true; };
    SerialPortEntry port{"ttyFAKE0", "/dev/ttyFAKE0"};
    QString usbPath = "fakehid0";
    unsigned long realSleepCapMs = 0;

    mutable int listings = 0;
    mutable std::vector<unsigned long> sleeps;
    mutable std::vector<QPair<uint16_t, uint16_t>> usbQueries;
};

// A parser with the tool's option names, processed from `arguments` (program name first).
std::unique_ptr<QCommandLineParser> makeParser(const QStringList& arguments);

}  // namespace Test
}  // namespace RomCmd
