#pragma once

#include <QFile>
#include <QString>

namespace RomCmd {

// The checks on the files that commands read data from or write data to; what a platform can
// tell about a file differs, so each has its own source file.
namespace DataFile {

enum class Input { Opened, OpenFailed, NotRegular };

// Opens `path` into `file` for reading, without waiting: data comes from regular files only
// (a FIFO would hold the open until a writer comes, a device such as /dev/zero never ends).
Input openInput(const QString& path, QFile* file);

// Whether a read to a file must not write at `path` (a link of another user, a FIFO or a
// socket); logs why, naming the device `id`, and returns true then.
bool refuseReadTarget(const QString& id, const QString& path);

}  // namespace DataFile

}  // namespace RomCmd
