#pragma once

#include <QtGlobal>

namespace RomCmd {

class LogHandler {
public:
    static void install();
};

}  // namespace RomCmd
