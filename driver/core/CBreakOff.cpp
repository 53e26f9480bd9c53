#include "CBreakOff.h"
#include "SrwGuard.h"

CBreakOff::CBreakOff() : m_hEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CBreakOff::~CBreakOff()
{
    CloseHandle(m_hEvent);
}

void CBreakOff::Raise()
{
    SrwGuard guard(m_lock);
    m_bRaisedInCall = true;
    Update();
}

void CBreakOff::CallDone(bool sessionGoesOn)
{
    SrwGuard guard(m_lock);
    if (sessionGoesOn)
        m_bRaisedInCall = false;
    Update();
}

void CBreakOff::NewSession()
{
    CallDone(true);
}

void CBreakOff::RaiseForClose()
{
    SrwGuard guard(m_lock);
    ++m_nClosers;
    Update();
}

void CBreakOff::CloseDone()
{
    SrwGuard guard(m_lock);
    if (m_nClosers > 0)
        --m_nClosers;
    Update();
}

// Under the lock: the event says what the state says.
void CBreakOff::Update()
{
    if (m_nClosers > 0 || m_bRaisedInCall)
        SetEvent(m_hEvent);
    else
        ResetEvent(m_hEvent);
}

bool CBreakOff::IsRaised() const
{
    SrwGuard guard(m_lock);
    return m_nClosers > 0 || m_bRaisedInCall;
}
