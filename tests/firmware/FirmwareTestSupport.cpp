#include "tests/firmware/FirmwareTestSupport.h"

#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>

namespace RomCmd {
namespace Test {

namespace {

QMutex logMutex;
QList<QPair<QtMsgType, QString>> capturedMessages;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    QMutexLocker lock(&logMutex);
    capturedMessages.append({type, message});
}

char levelLetter(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return 'D';
        case QtInfoMsg:
            return 'I';
        case QtWarningMsg:
            return 'W';
        case QtCriticalMsg:
            return 'C';
        default:
            return 'F';
    }
}

}  // namespace

LogCapture::LogCapture() {
    QMutexLocker lock(&logMutex);
    capturedMessages.clear();
    previousHandler = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previousHandler);
    QMutexLocker lock(&logMutex);
    capturedMessages.clear();
}

QList<QPair<QtMsgType, QString>> LogCapture::messages() const {
    QMutexLocker lock(&logMutex);
    return capturedMessages;
}

QStringList LogCapture::texts(QtMsgType type) const {
    QStringList result;
    for (const auto& message : messages()) {
        if (message.first == type) {
            result.append(message.second);
        }
    }
    return result;
}

int LogCapture::count(const QString& text) const {
    int n = 0;
    for (const auto& message : messages()) {
        n += message.second == text ? 1 : 0;
    }
    return n;
}

QString LogCapture::dump() const {
    QString text;
    for (const auto& message : messages()) {
        text += QString("%1 %2\n").arg(levelLetter(message.first)).arg(message.second);
    }
    return text;
}

QList<SerialPortEntry> FakeEnvironment::serialPorts() const {
    QList<SerialPortEntry> ports{{"ttyS0", "/dev/ttyS0"}};
    if (present(listings++)) {
        ports.append(port);
    }
    return ports;
}

QStringList FakeEnvironment::usbDevicePaths(uint16_t vid, uint16_t pid) const {
    usbQueries.push_back({vid, pid});
    QStringList paths{"otherhid7"};
    if (present(listings++)) {
        paths.append(usbPath);
    }
    return paths;
}

void FakeEnvironment::sleepMs(unsigned long milliseconds) const {
    sleeps.push_back(milliseconds);
    if (realSleepCapMs > 0) {
        QThread::msleep(std::min(milliseconds, realSleepCapMs));
    }
}

std::unique_ptr<QCommandLineParser> makeParser(const QStringList& arguments) {
    auto parser = std::make_unique<QCommandLineParser>();
    for (const char* name : {"p", "u", "r", "t", "f"}) {
        parser->addOption(QCommandLineOption(QString(name), QString(name), "value"));
    }
    parser->addOption(QCommandLineOption("c"));
    parser->addOption(QCommandLineOption("i"));
    parser->parse(arguments);
    return parser;
}

}  // namespace Test
}  // namespace RomCmd
