// Prints the clear text of the tool's scrambled log files: "[hh:mm:ss] " then the
// level prefix and the message, one entry per log line.

#include <QByteArray>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "app/LogDecode.h"
#include "app/LogHandler.h"
#include "app/LogScrambler.h"

namespace {

// Where the tool logs, with the fallback folder the handler picks on this system.
#ifdef _WIN32
#define TARVO_LOG_FOLDERS                                                                    \
    "The tool logs to logs\\tarvo_manufacturing_tool\\yyyy-MM-dd.log beside itself, or to\n" \
    "%LOCALAPPDATA%\\tarvo_manufacturing_tool\\logs\\ when that folder cannot be written.\n"
#else
#define TARVO_LOG_FOLDERS                                                                   \
    "The tool logs to logs/tarvo_manufacturing_tool/yyyy-MM-dd.log beside itself, or to\n"  \
    "$XDG_STATE_HOME/tarvo_manufacturing_tool/logs/ (~/.local/state/... when unset) when\n" \
    "that folder cannot be written.\n"
#endif

const char kUsage[] =
    "Usage: tarvo_log_decode [FILE]...\n"
    "  or:  tarvo_log_decode --day yyyy-MM-dd|today\n"
    "  or:  tarvo_log_decode --list\n"
    "Prints the time stamp and clear text of each line of the Tarvo Manufacturing Tool's\n"
    "log files. Reads standard input when no FILE is given, or for a FILE named \"-\".\n"
    "Lines that do not decode are printed unchanged after \"[undecodable] \". With several\n"
    "files, each one is introduced by a \"==> FILE <==\" line.\n"
    "\n" TARVO_LOG_FOLDERS
    "  --day DATE   decode the log of DATE (yyyy-MM-dd, or today) from both places\n"
    "  --list       list the log files in both places\n"
    "  -h, --help   show this text\n";

// The tool's folders: beside this program (the build tree), and the installed tool's
// folder relative to this program's.
QStringList logDirectories() {
    const QString own = RomCmd::LogHandler::executableDirectory();
    QStringList folders;
    for (const QString& application :
         {own, QDir::cleanPath(own + QStringLiteral("/" TARVO_INSTALLED_APP_DIR))}) {
        folders.append(RomCmd::LogHandler::besideDirectory(application));
    }
    folders.append(RomCmd::LogHandler::fallbackDirectory());
    folders.removeDuplicates();
    return folders;
}

void print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void decode(QFile& file) {
    while (true) {
        const QByteArray line = file.readLine();
        if (line.isEmpty()) {
            break;
        }
        print(RomCmd::LogDecode::decodeLine(line));
    }
}

int fail(const QString& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "tarvo_log_decode: %s\n", message.toLocal8Bit().constData());
    return 1;
}

int list() {
    for (const QString& folder : logDirectories()) {
        const QStringList names =
            QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            print(QFile::encodeName(folder + '/' + name) + '\n');
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QStringList files;
    bool headers = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--list") {
            return list();
        }
        if (argument == "--day") {
            const QString text = i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString();
            const QDate day = text == QLatin1String("today")
                                  ? QDate::currentDate()
                                  : QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
            if (!day.isValid()) {
                return fail("--day needs a date as yyyy-MM-dd, or today");
            }
            const QStringList folders = logDirectories();
            for (const QString& folder : folders) {
                const QString path = folder + '/' + RomCmd::LogHandler::fileName(day);
                if (QFileInfo::exists(path)) {
                    files.append(path);
                }
            }
            if (files.isEmpty()) {
                return fail("no log of " + day.toString(Qt::ISODate) + " in " + folders.join(", "));
            }
            headers = true;
            continue;
        }
        files.append(QString::fromLocal8Bit(argument));
    }
    if (files.isEmpty()) {
        files.append(QStringLiteral("-"));
    }

    int status = 0;
    for (const QString& name : files) {
        if (headers || files.size() > 1) {
            print("==> " + name.toLocal8Bit() + " <==\n");
        }
        // A device such as /dev/zero never ends and a FIFO may never open.
        const QFileInfo info(name);
        if (name != QLatin1String("-") && info.exists() && !info.isFile()) {
            std::fflush(stdout);
            std::fprintf(stderr, "tarvo_log_decode: cannot open %s: not a regular file\n",
                         name.toLocal8Bit().constData());
            status = 1;
            continue;
        }
        QFile file;
        const bool opened = name == QLatin1String("-")
                                ? file.open(stdin, QIODevice::ReadOnly)
                                : (file.setFileName(name), file.open(QIODevice::ReadOnly));
        if (!opened) {
            std::fflush(stdout);
            std::fprintf(stderr, "tarvo_log_decode: cannot open %s: %s\n",
                         name.toLocal8Bit().constData(),
                         file.errorString().toLocal8Bit().constData());
            status = 1;
            continue;
        }
        decode(file);
        std::fflush(stdout);
    }
    return status;
}
