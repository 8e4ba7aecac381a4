#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace RomCmd {
namespace Test {

// A scripted stand-in for the hidapi library, defined behind hidapi.h's own functions.
// Reads deliver queued reports; writes are recorded. Not thread-safe: tests drive it
// from one thread.
namespace HidDouble {

struct Write {
    QString devicePath;  // the device the report went to
    QByteArray bytes;
};

struct Read {
    size_t bufferSize;
    int timeoutMs;
};

void reset();
void attach(const QString& path, uint16_t vid, uint16_t pid);
// Opening this attached device fails as hidraw does without permission (errno EACCES).
void denyAccess(const QString& path);

// Queued outcomes of hid_read_timeout, in order; an empty queue means no report.
void queueReport(const QByteArray& report);
void queueNoReport();
void queueReadFailure();
// hid_write calls from this one on (1-based) fail; 0 never.
void failWritesFrom(int callNumber);

QList<Write> writes();
QList<Read> reads();
QStringList pathsOpened();           // by hid_open_path, as given
QList<uint32_t> idsOpened();         // by hid_open, vid << 16 | pid
int openDevices();                   // opened and not yet closed
int libraryInitCalls();              // hid_init and hid_exit
int enumerations();                  // hid_enumerate calls
int listsFreed();                    // hid_free_enumeration calls with a list
QList<uint32_t> enumerateFilters();  // vid << 16 | pid per hid_enumerate

// Fills the rest of each read buffer after the delivered report.
constexpr uint8_t kPoison = 0xCC;

}  // namespace HidDouble
}  // namespace Test
}  // namespace RomCmd
