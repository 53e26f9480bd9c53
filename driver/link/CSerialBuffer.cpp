#include "CSerialBuffer.h"

namespace {

// Keeps the lock released on every way out, an exception from the copy included.
class BufferLock {
public:
    explicit BufferLock(CSerialBuffer& buffer) : m_buffer(buffer) { m_buffer.Lock(); }
    ~BufferLock() { m_buffer.Unlock(); }
    BufferLock(const BufferLock&) = delete;
    BufferLock& operator=(const BufferLock&) = delete;

private:
    CSerialBuffer& m_buffer;
};

}  // namespace

CSerialBuffer::CSerialBuffer()
{
    InitializeCriticalSection(&m_lock);
}

CSerialBuffer::~CSerialBuffer()
{
    DeleteCriticalSection(&m_lock);
}

void CSerialBuffer::AddData(const char* bytes, size_t count)
{
    m_data.append(bytes, count);
}

bool CSerialBuffer::Read_Available(std::string& out, HANDLE hEvent)
{
    {
        BufferLock lock(*this);
        out.assign(m_data);
        m_data.clear();
        if (hEvent != INVALID_HANDLE_VALUE && hEvent != nullptr)
            ResetEvent(hEvent);
    }
    return !out.empty();
}

void CSerialBuffer::Flush()
{
    BufferLock lock(*this);
    m_data.clear();
}
