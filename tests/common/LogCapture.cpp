#include "tests/common/LogCapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace RomCmd {
namespace Test {

namespace {

QMutex recordMutex;
QList<LogCapture::Message> record;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    QMutexLocker lock(&recordMutex);
    record.append({type, text});
}

struct Level {
    const char* name;
    const char* prefix;  // as the console shows it
};

Level levelOf(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return {"debug", "[Debug] "};
        case QtInfoMsg:
            return {"info", "[Info] "};
        case QtWarningMsg:
            return {"warning", "[Warning] "};
        case QtCriticalMsg:
            return {"critical", "[Critical] "};
        case QtFatalMsg:
            return {"fatal", "[Fatal] "};
    }
    return {"?", "[Unknow Message Type] "};
}

}  // namespace

LogCapture::LogCapture() {
    clear();
    previous = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previous);
}

QList<LogCapture::Message> LogCapture::messages() {
    QMutexLocker lock(&recordMutex);
    return record;
}

QStringList LogCapture::messages(QtMsgType type) {
    QStringList result;
    for (const Message& message : messages()) {
        if (message.first == type) {
            result.append(message.second);
        }
    }
    return result;
}

QStringList LogCapture::lines() {
    QStringList result;
    for (const Message& message : messages()) {
        result.append(QString::fromLatin1(levelOf(message.first).prefix) + message.second);
    }
    return result;
}

QStringList LogCapture::lines(const QString& prefix) {
    QStringList result;
    for (const QString& line : lines()) {
        if (line.startsWith(prefix)) {
            result.append(line);
        }
    }
    return result;
}

QStringList LogCapture::matching(const char* level, const QString& fragment) {
    QStringList result;
    for (const Message& message : messages()) {
        if (qstrcmp(levelOf(message.first).name, level) == 0 && message.second.contains(fragment)) {
            result.append(message.second);
        }
    }
    return result;
}

int LogCapture::find(QtMsgType type, const QString& fragment) {
    const QList<Message> all = messages();
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).first == type && all.at(i).second.contains(fragment)) {
            return i;
        }
    }
    return -1;
}

bool LogCapture::anyContains(const QString& fragment) {
    for (const Message& message : messages()) {
        if (message.second.contains(fragment)) {
            return true;
        }
    }
    return false;
}

int LogCapture::count(const QString& text) {
    int n = 0;
    for (const Message& message : messages()) {
        n += message.second == text ? 1 : 0;
    }
    return n;
}

QString LogCapture::dump() {
    return lines().join('\n') + '\n';
}

void LogCapture::clear() {
    QMutexLocker lock(&recordMutex);
    record.clear();
}

}  // namespace Test
}  // namespace RomCmd
