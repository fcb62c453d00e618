// The process's console: POSIX terminals, or Windows' console API.
#include "cli/Console.h"

#include "cli/Interrupts.h"
#include "db/Text.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
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

// One line read as UTF-16 from a console in the given mode, so that any
// character typed arrives whatever the console's code page; none when the
// input ended before anything was typed.
std::optional<std::string> readConsoleLine(HANDLE input, DWORD mode)
{
    DWORD saved = 0;
    GetConsoleMode(input, &saved);
    SetConsoleMode(input, mode);
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
    SetConsoleMode(input, saved);
    if (ended)
        return std::nullopt;
    return db::toUtf8(line);
}

std::optional<std::string> readHiddenLine()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode))
        return std::nullopt;
    return readConsoleLine(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle()
    {
        if (valid())
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

Handle openConsole(const wchar_t* name)
{
    return Handle(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
}

// The console's own input and output (CONIN$, CONOUT$), whatever the
// standard handles were redirected to; UTF-16 both ways, so any character
// goes whatever the code page.
std::optional<std::string> askTerminal(const std::string& question)
{
    const Handle in = openConsole(L"CONIN$");
    const Handle out = openConsole(L"CONOUT$");
    if (!in.valid() || !out.valid())
        return std::nullopt;
    const std::u16string asked = db::fromUtf8(question);
    DWORD written = 0;
    WriteConsoleW(out.get(), asked.data(), static_cast<DWORD>(asked.size()), &written, nullptr);
    DWORD mode = 0;
    GetConsoleMode(in.get(), &mode);
    // An input that ended is an empty answer: no.
    return readConsoleLine(in.get(), mode | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT)
        .value_or(std::string());
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

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The controlling terminal itself (/dev/tty), whatever the standard streams
// were redirected to; a process without one cannot open it.
std::optional<std::string> askTerminal(const std::string& question)
{
    const Descriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (tty.get() < 0)
        return std::nullopt;
    for (std::size_t done = 0; done < question.size();) {
        const ssize_t n = ::write(tty.get(), question.data() + done, question.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(tty.get(), &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
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
    c.askTerminal = askTerminal;
    c.catchInterrupts = catchProcessInterrupts;
    return c;
}

} // namespace cli
