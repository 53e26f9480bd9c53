// Every static text and push button of the tool's dialog and of the driver
// package installer's pages, in English and in French, shows its whole text in
// the dialog's font, at the usual 96 DPI and with large text (144 and 192
// DPI). The templates are taken from the built programs and created hidden;
// the outcome page's texts, set at run time, are measured by the installer
// window's own test.
//
// Wine scales dialog fonts by the system DPI: each large setting is checked
// by this program run again under it.
#include "DPInstResource.h"
#include "PlantedDlls.h"
#include "TestEnv.h"
#include "TextFit.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace testenv;

namespace {

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The template as stored, made invisible, created without a parent.
HWND CreateHidden(HMODULE module, WORD id, LANGID language)
{
    HRSRC resource = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(id), language);
    if (!resource)
        return nullptr;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    std::vector<BYTE> copy(data, data + SizeofResource(module, resource));
    const size_t styleOffset = 12;  // DLGTEMPLATEEX: version, signature, help id, extended style, style
    DWORD style;
    memcpy(&style, &copy[styleOffset], sizeof(style));
    style &= ~WS_VISIBLE;
    memcpy(&copy[styleOffset], &style, sizeof(style));
    return CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()),
                                      nullptr, NoDialogProc, 0);
}

TEST(TextFit, EveryTemplateInBothLanguages)
{
    // Scaled as a program that declares itself DPI-aware, as both do.
    SetProcessDPIAware();
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(GetDeviceCaps(screen, LOGPIXELSY), CheckedDpi()) << "the DPI setting did not take";
    ReleaseDC(nullptr, screen);
    struct Template {
        const char* program;
        WORD id;
    };
    const Template templates[] = {
        {"CellivantaVKTools.exe", IDD_TESSALINE_DIALOG},
        {"DPInst.exe", IDD_INSTALLING},
        {"DPInst.exe", IDD_FINISHED},
    };
    for (const Template& t : templates) {
        HMODULE module = LoadLibraryExA((BinDir() + "\\" + t.program).c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << t.program;
        for (WORD language : {LANG_ENGLISH, LANG_FRENCH}) {
            SCOPED_TRACE(std::string(t.program) + " dialog " + std::to_string(t.id) +
                         (language == LANG_FRENCH ? " French" : " English") + " at " +
                         std::to_string(CheckedDpi()) + " DPI");
            HWND dialog = CreateHidden(module, t.id, MAKELANGID(language, SUBLANG_NEUTRAL));
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(TextsThatDoNotFit(dialog), std::vector<std::string>{});
            DestroyWindow(dialog);
        }
        FreeLibrary(module);
    }
}

}  // namespace

namespace {

TEST(TextFit, LargeText)
{
    if (CheckedDpi() != USER_DEFAULT_SCREEN_DPI)
        GTEST_SKIP() << "run by the check at the usual setting";
    for (int dpi : {144, 192}) {
        std::string output;
        EXPECT_EQ(RunAtDpi(dpi, "TextFit.EveryTemplateInBothLanguages", output), 0) << "at " << dpi << " DPI:\n"
                                                                                  << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    }
}

}  // namespace
