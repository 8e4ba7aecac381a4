#include "tests/common/QtPrinters.h"

void PrintTo(const QString& text, std::ostream* os) {
    QString escaped = text;
    escaped.replace("\r", "\\r").replace("\n", "\\n");
    *os << '"' << escaped.toStdString() << '"';
}
