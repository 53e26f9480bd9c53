#include "SerialPortCalls.h"

const SerialPortCalls& SystemSerialPortCalls()
{
    static const SerialPortCalls calls = {
        ::PurgeComm, ::FlushFileBuffers, ::GetCommState, ::SetCommState, ::SetCommTimeouts,
        ::ClearCommError, ::ReadFile, ::WriteFile, ::CancelIoEx, ::GetOverlappedResult,
    };
    return calls;
}
