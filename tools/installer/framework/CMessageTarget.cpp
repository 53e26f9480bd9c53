#include "CMessageTarget.h"

namespace {

const MessageMapEntry s_noEntries[] = {EndOfMessageMap()};
const MessageMap s_rootMap = {nullptr, s_noEntries};

bool Matches(const MessageMapEntry& entry, UINT message, WPARAM wParam)
{
    if (entry.nMessage != message)
        return false;
    return message != WM_COMMAND || (entry.nID == LOWORD(wParam) && entry.nCode == HIWORD(wParam));
}

}  // namespace

const MessageMap* CMessageTarget::GetMessageMap() const
{
    return &s_rootMap;
}

const MessageMapEntry* CMessageTarget::FindEntry(const MessageMap* map, UINT message, WPARAM wParam)
{
    for (; map; map = map->pBaseMap)
        for (const MessageMapEntry* entry = map->pEntries; entry->nMessage != 0; ++entry)
            if (Matches(*entry, message, wParam))
                return entry;
    return nullptr;
}

bool CMessageTarget::DispatchMessageMap(UINT message, WPARAM wParam, LRESULT& result)
{
    const MessageMapEntry* entry = FindEntry(GetMessageMap(), message, wParam);
    if (!entry)
        return false;
    result = 0;
    if (entry->pfnVoid)
        (this->*entry->pfnVoid)();
    else if (entry->pfnIcon)
        result = reinterpret_cast<LRESULT>((this->*entry->pfnIcon)());
    return true;
}
