#include "SerialPortCalls.h"

namespace {

// Built when the library loads: a guarded local would cost the thread
// runtime a slot at every load.
const SerialPortCalls kSystemCalls = {
    ::PurgeComm, ::FlushFileBuffers, ::GetCommState, ::SetCommState, ::SetCommTimeouts,
    ::ClearCommError, ::ReadFile, ::WriteFile, ::CancelIoEx, ::GetOverlappedResult, ::CloseHandle,
};

}  // namespace

const SerialPortCalls& SystemSerialPortCalls()
{
    return kSystemCalls;
}
