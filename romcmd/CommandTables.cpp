#include "romcmd/CommandTables.h"

#include <QCoreApplication>

namespace RomCmd {

const QMap<int, QString>& romStatusMessages() {
    static const QMap<int, QString> table{
        {0, "success"},
        {1, "failure"},
        {2, "invalid argument"},
        {4, "timeout"},
        {1001000, "unsupport memory command"},
        {1001001, "invalid memory range"},
        {1001002, "programming memory failed"},
        {1001003, "programming verify failed"},
        {1001004, "erasing memory failed"},
        {1001005, "erasing verify failed"},
        {1001006, "configuring memory failed"},
        {1001007, "reading memory failed"},
        {1001008, "reading memory is disallowed"},
        {1001009, "write memory before configuration"},
        {1001010, "memory start address in unaligned"},
        {1001011, "invalid memory id"},
        {1001013, "checksum mismatch"},
        {1001014,
         "write memory is disallowed. Please check whether life cycle is secure nor write "
         "command is locked by ROM!"},
        {1002000, "command is not supported"},
        {1002001, "command arguments are invalid"},
        {1002002, "attribute in run-time environment is read-only"},
    };
    return table;
}

const QMap<int, QString>& resultMessages() {
    static const QMap<int, QString> table{
        {0, "OK"},
        {1, "NAK"},
        {2, "Abort"},
        {3, "Failure"},
        {4, "TimeOut"},
        {5, "Open device failed"},
        {6, "Write header failed"},
        {7, "Write payload failed"},
        {8, "Write CRC failed"},
        {9, "Read ack start status failed"},
        {10, "Read ack status failed"},
        {11, "Read payload failed"},
        {12, "Read payload length failed"},
        {13, "Read payload buffer failed"},
        {14, "Read CRC failed"},
        {15, "Send response failed"},
        {16, "Set timeout failed"},
        {17, "Command execute failed, check the log file to get more details."},
        {18, "Command execute failed, check whether the boot mode is correct!"},
        {19, "Command is disallowed by ROM, check whether life cycle is in secure mode!"},
        {20, "Interrupted"},
    };
    return table;
}

const QMap<int, QString>& supportedCommandNames() {
    static const QMap<int, QString> table{
        {0, "unknown command"},
        {1, "query-rte"},
        {2, "config-rte"},
        {3, "config-memory"},
        {4, "write-memory"},
        {5, "read-memory"},
        {6, "load-image\r\nload-blfw"},
        {7, "erase-region\r\nerase-chip"},
        {8, "reset"},
        {9, "gen-fwbob"},
        {10, "verify-checksum"},
    };
    return table;
}

const QMap<uint32_t, QString>& capabilityNames() {
    static const QMap<uint32_t, QString> table{
        {0x1, QCoreApplication::translate("RomCmd", "Support Primary Boot")},
        {0x2, QCoreApplication::translate("RomCmd", "Support Recovery Boot")},
        {0x4, QCoreApplication::translate("RomCmd", "Support Serial Boot")},
        {0x8, QCoreApplication::translate("RomCmd", "Support ISP Boot")},
        {0x100, QCoreApplication::translate("RomCmd", "Support Secure Boot")},
        {0x200, QCoreApplication::translate("RomCmd", "Support Encrypted Boot")},
        {0x400, QCoreApplication::translate("RomCmd", "Support Command Container")},
        {0x800, QCoreApplication::translate("RomCmd", "Support Device Configuration Block")},
        {0x10000, QCoreApplication::translate("RomCmd", "Support ECDSA-P256")},
        {0x20000, QCoreApplication::translate("RomCmd", "Support ECDSA-P384")},
        {0x40000, QCoreApplication::translate("RomCmd", "Support ECDSA-P521")},
        {0x80000, QCoreApplication::translate("RomCmd", "Support SM2")},
        {0x1000000, QCoreApplication::translate("RomCmd", "Support AES-CCM(128-bit key)")},
        {0x2000000, QCoreApplication::translate("RomCmd", "Support AES-CCM(256-bit key)")},
        {0x4000000, QCoreApplication::translate("RomCmd", "Support SM4-CCM")},
    };
    return table;
}

QString lookupStatusMessage(int status) {
    return romStatusMessages().value(status, QStringLiteral("unknown error message"));
}

QString lookupResultMessage(int code) {
    return resultMessages().value(code);
}

}  // namespace RomCmd
