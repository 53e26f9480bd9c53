// Message maps of the tool's small application/dialog layer: a static table per
// class, chained to its base class's table, that names the handler of each
// window message or command.
#pragma once

#include <windows.h>

class CMessageTarget;

// A handler takes no arguments: what it needs it asks the window for. The one
// message answered with a value here (WM_QUERYDRAGICON) is answered with an icon.
using VoidHandler = void (CMessageTarget::*)();
using IconHandler = HICON (CMessageTarget::*)();

struct MessageMapEntry {
    UINT nMessage;  // WM_... ; WM_COMMAND for buttons and commands
    UINT nCode;     // notification code of a WM_COMMAND (BN_CLICKED = 0)
    UINT nID;       // control or command id of a WM_COMMAND
    VoidHandler pfnVoid;
    IconHandler pfnIcon;
};

struct MessageMap {
    const MessageMap* pBaseMap;    // null at the root
    const MessageMapEntry* pEntries;  // ends with an entry whose nMessage is 0
};

// Entries are written with these, so that a derived class's member functions
// can stand in a table typed on the root class.
template <class T>
constexpr MessageMapEntry OnMessage(UINT message, void (T::*handler)())
{
    return {message, 0, 0, static_cast<VoidHandler>(handler), nullptr};
}

template <class T>
constexpr MessageMapEntry OnMessageIcon(UINT message, HICON (T::*handler)())
{
    return {message, 0, 0, nullptr, static_cast<IconHandler>(handler)};
}

template <class T>
constexpr MessageMapEntry OnCommand(UINT id, void (T::*handler)(), UINT code = BN_CLICKED)
{
    return {WM_COMMAND, code, id, static_cast<VoidHandler>(handler), nullptr};
}

constexpr MessageMapEntry EndOfMessageMap()
{
    return {0, 0, 0, nullptr, nullptr};
}
