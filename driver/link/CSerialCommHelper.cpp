// Placeholder until the transport lands.
#include "CSerialCommHelper.h"
CSerialCommHelper::CSerialCommHelper()
    : m_state(CS_UnInit), m_hPort(INVALID_HANDLE_VALUE), m_hStopEvent(INVALID_HANDLE_VALUE),
      m_hThread(INVALID_HANDLE_VALUE), m_hThreadReady(INVALID_HANDLE_VALUE),
      m_hDataReadEvent(INVALID_HANDLE_VALUE), m_bConnected(false) {}
CSerialCommHelper::~CSerialCommHelper() {}
HRESULT CSerialCommHelper::Init(std::string, DWORD, BYTE, BYTE, BYTE) { return E_FAIL; }
HRESULT CSerialCommHelper::Start() { return S_OK; }
HRESULT CSerialCommHelper::Stop() { return S_OK; }
HRESULT CSerialCommHelper::UnInit() { return S_OK; }
HRESULT CSerialCommHelper::Write(const char*, DWORD) { return E_FAIL; }
HRESULT CSerialCommHelper::ReadAvailable(std::string&) { return E_FAIL; }
std::string CSerialCommHelper::NormalisePortName(const std::string& p) { return p; }
CSerialCommHelper::OpenPortFn CSerialCommHelper::SetOpenPortFn(OpenPortFn) { return nullptr; }
unsigned __stdcall CSerialCommHelper::ThreadFn(void*) { return 0; }
