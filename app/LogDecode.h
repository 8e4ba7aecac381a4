#pragma once

#include <QByteArray>

namespace RomCmd {
namespace LogDecode {

// The text printed for one log file line (its line feed included or not): "[hh:mm:ss] "
// and the clear text, "[undecodable] " and the line as it stands, after an "[incomplete]"
// line for each stamp left by a line cut short. Every printed line ends with a line feed.
QByteArray decodeLine(QByteArray line);

}  // namespace LogDecode
}  // namespace RomCmd
