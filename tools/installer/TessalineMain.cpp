// Entry point of CellivantaVKTools.exe; everything else lives in the library
// that the tests link too.
#include "CTessalineApp.h"
#include "SystemLibrary.h"

CTessalineApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The tool runs from wherever the user saved it, often a downloads folder.
    RestrictDllSearchToSystemFolder();
    return CApplication::RunApplication();
}
