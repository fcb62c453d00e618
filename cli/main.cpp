// sqllogclean-cli: start-up only; the program is cli::run.
#include "cli/Command.h"
#include "cli/Console.h"

#include <string>
#include <vector>

#ifdef _WIN32
#include "db/Text.h"

#include <windows.h>
#include <shellapi.h>
#endif

int main(int argc, char** argv)
{
    std::vector<std::string> args;
#ifdef _WIN32
    // The arguments in UTF-8 whatever the code page, and output shown as
    // UTF-8 by the console.
    (void)argc;
    (void)argv;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            args.push_back(db::toUtf8(reinterpret_cast<const char16_t*>(wide[i])));
        LocalFree(wide);
    }
    SetConsoleOutputCP(CP_UTF8);
#else
    args.assign(argv, argv + argc);
#endif
    cli::Console console = cli::processConsole();
    return cli::run(args, console);
}
