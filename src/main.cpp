#include "Vortle.h"

#ifdef _WIN32
#include <string>
#include <vector>

#include "PlatWinNames.h"

// Windows hands the arguments over in UTF-16: the tool takes them as UTF-8, whatever the code
// page, so that a name in any script reaches the file calls whole.
int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf8(wargv[i]));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return VortleMain(argc, argv.data());
}
#else
int main(int argc, char** argv) {
    return VortleMain(argc, argv);
}
#endif
