#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace RomCmd {
namespace Test {

// Collects every log message while alive, as "<level>|<text>".
class LogCapture {
public:
    LogCapture() {
        lines().clear();
        previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(previous); }

    static QStringList& lines() {
        static QStringList stored;
        return stored;
    }

    // Messages of one level that contain the fragment.
    static QStringList matching(const char* level, const QString& fragment) {
        QStringList out;
        const QString prefix = QString::fromLatin1(level) + '|';
        for (const QString& line : lines()) {
            if (line.startsWith(prefix) && line.contains(fragment)) {
                out << line.mid(prefix.size());
            }
        }
        return out;
    }

    static bool anyContains(const QString& fragment) {
        for (const QString& line : lines()) {
            if (line.contains(fragment)) {
                return true;
            }
        }
        return false;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& text) {
        const char* level = "debug";
        switch (type) {
            case QtInfoMsg:
                level = "info";
                break;
            case QtWarningMsg:
                level = "warning";
                break;
            case QtCriticalMsg:
                level = "critical";
                break;
            case QtFatalMsg:
                level = "fatal";
                break;
            default:
                break;
        }
        lines() << QString::fromLatin1(level) + '|' + text;
    }

    QtMessageHandler previous = nullptr;
};

}  // namespace Test
}  // namespace RomCmd
