#include "SerialPortCalls.h"

const SerialPortCalls& SystemSerialPortCalls()
{
    static const SerialPortCalls calls = {
        ::PurgeComm,     ::FlushFileBuffers, ::SetCommMask, ::GetCommState, ::SetCommState, ::SetCommTimeouts,
        ::WaitCommEvent, ::ClearCommError,   ::ReadFile,    ::WriteFile,    ::CancelIoEx,   ::GetOverlappedResult,
    };
    return calls;
}
