#include "tests/common/SimProcess.h"

namespace RomCmd {
namespace Test {

SimProcess::SimProcess() = default;
SimProcess::~SimProcess() { stop(); }
bool SimProcess::start(const QStringList&, bool, int) { return false; }
void SimProcess::stop() {}
QProcessEnvironment SimProcess::hidEnvironment() const
{
    return QProcessEnvironment::systemEnvironment();
}
QString SimProcess::romsimPath() { return QStringLiteral(TARVO_BIN_DIR "/tarvo_romsim"); }
QString SimProcess::shimPath() { return QStringLiteral(TARVO_BIN_DIR "/libtarvo_hidsim.so"); }

}  // namespace Test
}  // namespace RomCmd
