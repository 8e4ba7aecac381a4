// Prints the clear text of the tool's scrambled log files: "[hh:mm:ss] " then the
// level prefix and the message, one entry per log line.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "app/LogScrambler.h"

namespace {

const char kUsage[] =
    "Usage: tarvo_log_decode [FILE]...\n"
    "Prints the time stamp and clear text of each line of the Tarvo Manufacturing Tool's\n"
    "log files (logs/tarvo_manufacturing_tool/yyyy-MM-dd.log beside the tool). Reads\n"
    "standard input when no FILE is given, or for a FILE named \"-\". Lines that do not\n"
    "decode are printed unchanged after \"[undecodable] \". With several files, each one\n"
    "is introduced by a \"==> FILE <==\" line.\n";

// Length of "[hh:mm:ss]" when the line starts with one, else 0.
int stampLength(const QByteArray& line, int from) {
    static const char kPattern[] = "[dd:dd:dd]";
    const int length = int(sizeof(kPattern)) - 1;
    if (line.size() - from < length) {
        return 0;
    }
    for (int i = 0; i < length; ++i) {
        const char c = line.at(from + i);
        const bool matches = kPattern[i] == 'd' ? (c >= '0' && c <= '9') : c == kPattern[i];
        if (!matches) {
            return 0;
        }
    }
    return length;
}

void print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void decodeLine(QByteArray line) {
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    int position = 0;
    int length = stampLength(line, 0);
    // A line cut short (an aborted writer) leaves its stamp in front of the next one.
    while (length > 0 && stampLength(line, position + length) > 0) {
        print(line.mid(position, length) + " [incomplete]\n");
        position += length;
        length = stampLength(line, position);
    }
    QByteArray clearText;
    if (length > 0 && line.size() > position + length &&
        RomCmd::LogScrambler::unscramble(line.mid(position + length), &clearText)) {
        print(line.mid(position, length) + ' ' + clearText + '\n');
    } else {
        print("[undecodable] " + line.mid(position) + '\n');
    }
}

void decode(QFile& file) {
    while (true) {
        const QByteArray line = file.readLine();
        if (line.isEmpty()) {
            break;
        }
        decodeLine(line);
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
