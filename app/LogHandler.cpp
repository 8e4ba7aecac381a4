#include "app/LogHandler.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <cstdlib>
#include <vector>

#include "app/LogScrambler.h"

namespace RomCmd {

namespace {

// QCoreApplication::applicationDirPath() may not exist yet and warns when asked too early,
// and a warning from inside the handler would deadlock on its own mutex.
#ifdef _WIN32
QString executableDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0) {
            return QDir::currentPath();
        }
        // A full buffer means the path was cut.
        if (length < buffer.size()) {
            return QFileInfo(QString::fromWCharArray(buffer.data(), int(length))).absolutePath();
        }
        buffer.resize(buffer.size() * 2);
    }
}
#else
QString executableDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return QDir::currentPath();
        }
        if (size_t(length) < buffer.size()) {
            const QString path = QString::fromLocal8Bit(buffer.data(), int(length));
            return QFileInfo(path).absolutePath();
        }
        buffer.resize(buffer.size() * 2);
    }
}
#endif

void writeConsole(FILE* stream, const QByteArray& prefix, const QByteArray& text) {
    std::fwrite(prefix.constData(), 1, size_t(prefix.size()), stream);
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

LogHandler& LogHandler::instance() {
    // Never destroyed: messages may still arrive while other statics are torn down.
    static LogHandler* const handler = new LogHandler;
    return *handler;
}

void LogHandler::install() {
    instance();
    qInstallMessageHandler(&LogHandler::handleMessage);
}

void LogHandler::handleMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    instance().handle(type, text);
}

QByteArray LogHandler::prefix(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return QByteArrayLiteral("[Debug] ");
        case QtWarningMsg:
            return QByteArrayLiteral("[Warning] ");
        case QtCriticalMsg:
            return QByteArrayLiteral("[Critical] ");
        case QtFatalMsg:
            return QByteArrayLiteral("[Fatal] ");
        case QtInfoMsg:
            return QByteArrayLiteral("[Info] ");
    }
    return QByteArrayLiteral("[Unknow Message Type] ");
}

QByteArray LogHandler::fileLine(const QTime& time, QtMsgType type, const QString& text) {
    return '[' + time.toString(Qt::TextDate).toLatin1() + ']' +
           LogScrambler::scramble(prefix(type) + text.toLocal8Bit());
}

void LogHandler::setClock(Clock newClock) {
    QMutexLocker locker(&mutex);
    clock = std::move(newClock);
}

void LogHandler::setApplicationDirectory(const QString& directory) {
    QMutexLocker locker(&mutex);
    applicationDirectory = directory;
}

void LogHandler::setConsole(FILE* stream) {
    QMutexLocker locker(&mutex);
    console = stream;
}

QString LogHandler::logDirectory() {
    QMutexLocker locker(&mutex);
    return applicationDirectoryLocked() + "/logs/tarvo_manufacturing_tool";
}

QString LogHandler::logFilePath(const QDate& date) {
    return logDirectory() + '/' + date.toString(QStringLiteral("yyyy-MM-dd")) + ".log";
}

QString LogHandler::applicationDirectoryLocked() {
    if (applicationDirectory.isEmpty()) {
        applicationDirectory = executableDirectory();
    }
    return applicationDirectory;
}

void LogHandler::handle(QtMsgType type, const QString& text) {
    QMutexLocker locker(&mutex);

    if (type != QtDebugMsg) {
        writeConsole(console ? console : stdout, prefix(type), text.toLocal8Bit());
    }

    // One reading of the clock, so the file chosen and the stamp written always agree.
    const QDateTime now = clock ? clock() : QDateTime::currentDateTime();
    const QString directory = applicationDirectoryLocked() + "/logs/tarvo_manufacturing_tool";
    const bool haveDirectory = QDir(directory).exists() || QDir().mkpath(directory);
    QFile file(directory + '/' + now.date().toString(QStringLiteral("yyyy-MM-dd")) + ".log");
    if (haveDirectory && file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        // Written whole, fatal included, so the reason for an abort is kept and the next
        // run's first line does not get glued to a half-written one.
        file.write(fileLine(now.time(), type, text) + '\n');
        file.close();
    }
    if (type == QtFatalMsg) {
        std::abort();
    }
}

}  // namespace RomCmd
