// Sanitizer builds only: keeps the FreeTDS driver, and the TLS library it
// brings, loaded for the life of the process. The driver manager unloads the
// driver with its last environment; the thread-local storage such a library
// leaves behind then crashes LeakSanitizer's check at exit (GCC 12's runtime
// walks the stale blocks) once a session has used TLS.
#include <dlfcn.h>
#include <glob.h>

#include <cstddef>

namespace {

bool pin(const char* path) { return dlopen(path, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE) != nullptr; }

const bool pinned = [] {
    if (pin("libtdsodbc.so"))
        return true;
    glob_t found{};
    bool any = false;
    if (glob("/usr/lib/*/odbc/libtdsodbc.so", 0, nullptr, &found) == 0)
        for (std::size_t i = 0; i < found.gl_pathc && !any; ++i)
            any = pin(found.gl_pathv[i]);
    globfree(&found);
    return any;
}();

} // namespace
