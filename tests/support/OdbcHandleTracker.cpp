// Sanitizer builds only: makes LeakSanitizer report an ODBC handle that is
// never freed. The driver manager keeps every handle on lists of its own, so
// to LeakSanitizer a forgotten handle is still reachable and never reported,
// with or without suppressions. Here each handle the program allocates gets a
// token on the heap that only SQLFreeHandle releases; the token's address is
// kept disguised, so a handle never freed leaves an unreachable token, which
// is reported with the stack that allocated the handle. These definitions
// stand in for the driver manager's two functions (the linker prefers them)
// and hand every call on.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>

#include <dlfcn.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace {

struct Token {
    SQLSMALLINT type;
};

std::mutex& mutex()
{
    static std::mutex m;
    return m;
}

// Handle -> ~address of its token.
std::unordered_map<SQLHANDLE, std::uintptr_t>& tokens()
{
    static std::unordered_map<SQLHANDLE, std::uintptr_t> map;
    return map;
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output)
{
    using Function = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
    static const auto real = next<Function>("SQLAllocHandle");
    const SQLRETURN rc = real(type, input, output);
    if ((rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && output && *output != SQL_NULL_HANDLE) {
        const auto disguised = ~reinterpret_cast<std::uintptr_t>(new Token{type});
        const std::lock_guard lock(mutex());
        tokens()[*output] = disguised;
    }
    return rc;
}

extern "C" SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle)
{
    using Function = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE);
    static const auto real = next<Function>("SQLFreeHandle");
    {
        const std::lock_guard lock(mutex());
        if (const auto it = tokens().find(handle); it != tokens().end()) {
            delete reinterpret_cast<Token*>(~it->second);
            tokens().erase(it);
        }
    }
    return real(type, handle);
}
