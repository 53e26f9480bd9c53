// Entry point of CellivantaVKTools.exe; everything else lives in the library
// that the tests link too.
#include "CTessalineApp.h"

CTessalineApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return CApplication::RunApplication();
}
