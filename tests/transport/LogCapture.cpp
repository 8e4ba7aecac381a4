#include "LogCapture.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QVector>

namespace RomCmd {
namespace Test {

namespace {

QMutex captureLock;
QVector<QPair<QtMsgType, QString>> captured;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    QMutexLocker locker(&captureLock);
    captured.append({type, message});
}

const char* levelName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return "debug";
        case QtInfoMsg:
            return "info";
        case QtWarningMsg:
            return "warning";
        case QtCriticalMsg:
            return "critical";
        case QtFatalMsg:
            return "fatal";
    }
    return "?";
}

}  // namespace

LogCapture::LogCapture() {
    clear();
    previous = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previous);
}

QStringList LogCapture::messages(QtMsgType type) const {
    QMutexLocker locker(&captureLock);
    QStringList result;
    for (const auto& entry : captured) {
        if (entry.first == type)
            result << entry.second;
    }
    return result;
}

QString LogCapture::dump() const {
    QMutexLocker locker(&captureLock);
    QString text;
    for (const auto& entry : captured)
        text += QString("%1: %2\n").arg(levelName(entry.first), entry.second);
    return text;
}

void LogCapture::clear() {
    QMutexLocker locker(&captureLock);
    captured.clear();
}

}  // namespace Test
}  // namespace RomCmd
