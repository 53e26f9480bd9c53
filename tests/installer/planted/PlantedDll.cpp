// A DLL that a hostile program could plant beside the installers, under the
// name of a DLL they use: when loaded, it leaves a marker file beside itself
// (<its path>.loaded). The tests copy it under each planted name.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(self, path, MAX_PATH);
        HANDLE marker = CreateFileA((std::string(path) + ".loaded").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (marker != INVALID_HANDLE_VALUE)
            CloseHandle(marker);
    }
    return TRUE;
}
