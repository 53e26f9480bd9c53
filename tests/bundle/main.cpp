// vktestrun [--pairs COM11:COM21,...] [--only NAME,...]: runs the test
// bundle it lies in (started by run-tests.cmd).
#include "BundleRunner.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

const char kUsage[] =
    "usage: run-tests.cmd [--pairs DRIVER:DISPLAY,...] [--only PROGRAM,...]\n"
    "  --pairs  the COM port pairs of a null-modem driver, four of them:\n"
    "           --pairs COM11:COM21,COM12:COM22,COM13:COM23,COM14:COM24\n"
    "  --only   run these test programs alone (keys_test,pellacore_test)\n";

// The value of --name VALUE or --name=VALUE at argv[i], moving i past it.
bool Option(int argc, char** argv, int& i, const char* name, std::string& value)
{
    const size_t length = strlen(name);
    if (strncmp(argv[i], name, length) != 0)
        return false;
    if (argv[i][length] == '=')
        value = argv[i] + length + 1;
    else if (argv[i][length] == '\0' && i + 1 < argc)
        value = argv[++i];
    else
        return false;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string pairs, only;
    for (int i = 1; i < argc; ++i) {
        if (!Option(argc, argv, i, "--pairs", pairs) && !Option(argc, argv, i, "--only", only)) {
            fprintf(stderr, "%s", kUsage);
            return 2;
        }
    }
    std::vector<std::string> programs;
    std::istringstream names(only);
    for (std::string name; std::getline(names, name, ',');)
        programs.push_back(name);
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of('\\'));
    return BundleRunner(folder, pairs, programs).Run();
}
