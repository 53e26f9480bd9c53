// The installation tool as an application: it shows its dialog once, cleans up
// and ends without a message loop.
#pragma once

#include "framework/CApplication.h"

class CTessalineApp : public CApplication {
public:
    CTessalineApp();
    ~CTessalineApp() override;

protected:
    const MessageMap* GetMessageMap() const override;

public:
    BOOL InitInstance() override;
};
