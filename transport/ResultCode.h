#pragma once

namespace RomCmd {

// Result codes of every transport and engine operation. 1 to 16 come from the
// transports, 17 to 19 from the engine when the ROM answers with an error status, 20 from
// the engine when a signal stopped a transfer between two packets.
enum ResultCode : int {
    ResultOk = 0,
    ResultNak = 1,
    ResultAbort = 2,
    ResultFailure = 3,
    ResultTimeout = 4,
    ResultOpenFailed = 5,
    ResultWriteHeaderFailed = 6,
    ResultWritePayloadFailed = 7,
    ResultWriteCrcFailed = 8,
    ResultReadAckStartFailed = 9,
    ResultReadAckStatusFailed = 10,
    ResultReadPayloadFailed = 11,
    ResultReadPayloadLengthFailed = 12,
    ResultReadPayloadBufferFailed = 13,
    ResultReadCrcFailed = 14,
    ResultSendResponseFailed = 15,
    ResultSetTimeoutFailed = 16,
    ResultCommandFailed = 17,
    ResultBootModeFailed = 18,
    ResultDisallowed = 19,
    ResultInterrupted = 20,
};

}  // namespace RomCmd
