// Root of the tool's application and dialog classes: an object that owns a
// chain of message maps and runs the handler they name for a message.
#pragma once

#include "MessageMap.h"

class CMessageTarget {
public:
    virtual ~CMessageTarget() = default;

    // Runs the first handler that this object's maps (most derived first) name
    // for the message; false when none does. result receives a handler's answer.
    bool DispatchMessageMap(UINT message, WPARAM wParam, LRESULT& result);

protected:
    virtual const MessageMap* GetMessageMap() const;

private:
    static const MessageMapEntry* FindEntry(const MessageMap* map, UINT message, WPARAM wParam);
};
