#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace RomCmd {
namespace Test {

// Runs build/bin/tarvo_romsim for the length of a test and stops it afterwards.
class SimProcess {
public:
    SimProcess();
    ~SimProcess();

    // Starts the device with extra options; with withHid it also serves USB-HID on a
    // socket of its own. False when it did not print its pty path within the bound.
    bool start(const QStringList& arguments = {}, bool withHid = false, int timeoutMs = 10000);
    void stop();
    // Stops the device and reports whether it ended normally with status 0 (a sanitizer
    // finding or a crash inside the device shows here); its standard error goes to *log.
    bool stopCleanly(QString* log = nullptr);

    QString ptyPath() const { return pty; }
    QString hidSocketPath() const { return socket; }
    // Environment that makes a process see the device through the preloaded HID shim, with
    // the USB port locations of the device's sysfs tree.
    QProcessEnvironment hidEnvironment() const;
    QString sysfsRoot() const;
    static QString romsimPath();
    static QString shimPath();

private:
    std::unique_ptr<QProcess> process;
    QTemporaryDir dir;
    QString pty;
    QString socket;
};

}  // namespace Test
}  // namespace RomCmd
