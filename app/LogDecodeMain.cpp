// Prints the clear text of the tool's scrambled log files: "[hh:mm:ss] " then the
// level prefix and the message, one entry per log line.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "app/LogDecode.h"

namespace {

const char kUsage[] =
    "Usage: tarvo_log_decode [FILE]...\n"
    "Prints the time stamp and clear text of each line of the Tarvo Manufacturing Tool's\n"
    "log files (logs/tarvo_manufacturing_tool/yyyy-MM-dd.log beside the tool). Reads\n"
    "standard input when no FILE is given, or for a FILE named \"-\". Lines that do not\n"
    "decode are printed unchanged after \"[undecodable] \". With several files, each one\n"
    "is introduced by a \"==> FILE <==\" line.\n";

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

}  // namespace

int main(int argc, char* argv[]) {
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        files.append(QString::fromLocal8Bit(argument));
    }
    if (files.isEmpty()) {
        files.append(QStringLiteral("-"));
    }

    int status = 0;
    for (const QString& name : files) {
        if (files.size() > 1) {
            print("==> " + name.toLocal8Bit() + " <==\n");
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
