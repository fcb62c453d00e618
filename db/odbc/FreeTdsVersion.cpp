#include "db/odbc/FreeTdsVersion.h"

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

namespace db::detail {

BraceStyle braceStyleOfLibrary(const std::string& path)
{
    static std::mutex mutex;
    static std::map<std::string, BraceStyle> known;
    std::lock_guard lock(mutex);
    if (auto it = known.find(path); it != known.end())
        return it->second;

    BraceStyle style = BraceStyle::Doubled;
    std::ifstream file(path, std::ios::binary);
    if (file) {
        const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        static constexpr std::string_view marker = "freetds v";
        if (auto pos = content.find(marker); pos != std::string::npos) {
            int major = 0, minor = 0;
            std::size_t i = pos + marker.size();
            while (i < content.size() && content[i] >= '0' && content[i] <= '9')
                major = major * 10 + (content[i++] - '0');
            if (i < content.size() && content[i] == '.') {
                ++i;
                while (i < content.size() && content[i] >= '0' && content[i] <= '9')
                    minor = minor * 10 + (content[i++] - '0');
            }
            if (major < 1 || (major == 1 && minor < 4))
                style = BraceStyle::FreeTds13;
        }
    }
    known.emplace(path, style);
    return style;
}

} // namespace db::detail
