#include "CSerialBuffer.h"
CSerialBuffer::CSerialBuffer() { InitializeCriticalSection(&m_lock); }
CSerialBuffer::~CSerialBuffer() { DeleteCriticalSection(&m_lock); }
void CSerialBuffer::AddData(const char*, size_t) {}
bool CSerialBuffer::Read_Available(std::string&, HANDLE) { return false; }
void CSerialBuffer::Flush() {}
