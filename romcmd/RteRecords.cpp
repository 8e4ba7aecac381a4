#include "romcmd/RteRecords.h"

#include "transport/SerialPortInfo.h"
#include "transport/UsbInfo.h"

namespace RomCmd {

void registerMetaTypes() {
    qRegisterMetaType<RomParamInfo>("RomCmd::RomParamInfo");
    qRegisterMetaType<SerialInfParam>("RomCmd::SerialInfParam");
    qRegisterMetaType<CmdStatusInfo>("RomCmd::CmdStatusInfo");
    qRegisterMetaType<BootStatusInfo>("RomCmd::BootStatusInfo");
    qRegisterMetaType<MemoryAttribute>("RomCmd::MemoryAttribute");
    qRegisterMetaType<SerialPortInfo>("SerialPortInfo");
    qRegisterMetaType<UsbInfo>("UsbInfo");
}

}  // namespace RomCmd
