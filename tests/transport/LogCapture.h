#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace RomCmd {
namespace Test {

// Collects the messages logged while it lives; restores the previous handler after.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList messages(QtMsgType type) const;
    // All messages as "<level>: <text>" lines, for failure output.
    QString dump() const;
    void clear();

private:
    QtMessageHandler previous;
};

}  // namespace Test
}  // namespace RomCmd
