#include "app/LogDecode.h"

#include "app/LogScrambler.h"

namespace RomCmd {
namespace LogDecode {

namespace {

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

}  // namespace

QByteArray decodeLine(QByteArray line) {
    QByteArray out;
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
        out.append(line.mid(position, length) + " [incomplete]\n");
        position += length;
        length = stampLength(line, position);
    }
    QByteArray clearText;
    if (length > 0 && line.size() > position + length &&
        RomCmd::LogScrambler::unscramble(line.mid(position + length), &clearText)) {
        out.append(line.mid(position, length) + ' ' + clearText + '\n');
    } else {
        out.append("[undecodable] " + line.mid(position) + '\n');
    }
    return out;
}

}  // namespace LogDecode
}  // namespace RomCmd
