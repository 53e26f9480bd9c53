// Entry point of CellivantaVKTools.exe; everything else lives in the library
// that the tests link too.
#include "CTessalineApp.h"
#include "SystemLibrary.h"
#include "resource.h"

CTessalineApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The tool runs from wherever the user saved it, often a downloads folder.
    // Run as administrator there without the safe search, a DLL planted
    // beside it would get those rights.
    if (!RestrictDllSearchToSystemFolder() && IsElevated()) {
        ShowRefusal(IDS_UNSAFE_ELEVATION);
        return 1;
    }
    return CApplication::RunApplication();
}
