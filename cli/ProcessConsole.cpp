// The process's console: POSIX terminals, or Windows' console API.
#include "cli/Console.h"

#include "db/Text.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

#ifdef _WIN32

bool isTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

// A console shows colour codes once asked to (Windows 10 on); one that
// cannot would print them, so it counts as no terminal for colour.
bool showsColour(FILE* stream)
{
    if (!isTerminal(stream))
        return false;
    const HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) && SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// Read as UTF-16 from the console itself, so that any character typed
// arrives whatever the console's code page.
std::optional<std::string> readHiddenLine()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode))
        return std::nullopt;
    SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
    std::u16string line;
    bool ended = false;
    for (;;) {
        wchar_t c = 0;
        DWORD read = 0;
        if (!ReadConsoleW(input, &c, 1, &read, nullptr) || read == 0) {
            ended = line.empty();
            break;
        }
        if (c == L'\n')
            break;
        if (c != L'\r')
            line += static_cast<char16_t>(c);
    }
    SetConsoleMode(input, mode);
    if (ended)
        return std::nullopt;
    return db::toUtf8(line);
}

#else

bool isTerminal(FILE* stream) { return ::isatty(::fileno(stream)) != 0; }
bool showsColour(FILE* stream) { return isTerminal(stream); }

// Echo comes back however the read ends.
class EchoOff {
public:
    EchoOff()
    {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        on_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (on_)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool on_ = false;
};

std::optional<std::string> readHiddenLine()
{
    const EchoOff quiet;
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    return line;
}

#endif

} // namespace

Console processConsole()
{
    Console c;
    c.in = &std::cin;
    c.out = &std::cout;
    c.err = &std::cerr;
    c.inIsTerminal = isTerminal(stdin);
    c.outIsTerminal = showsColour(stdout);
    c.errIsTerminal = isTerminal(stderr);
    c.environment = [](const char* name) -> std::optional<std::string> {
#ifdef _WIN32
        // The wide environment holds every character; the narrow one only
        // those of the ANSI code page.
        const std::u16string wide = db::fromUtf8(name);
        const wchar_t* value = _wgetenv(reinterpret_cast<const wchar_t*>(wide.c_str()));
        if (!value)
            return std::nullopt;
        return db::toUtf8(reinterpret_cast<const char16_t*>(value));
#else
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
#endif
    };
    c.readHiddenLine = readHiddenLine;
    return c;
}

} // namespace cli
