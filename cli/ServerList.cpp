#include "cli/ServerList.h"

#include "db/Errors.h"
#include "db/Text.h"
#include "db/discovery/ServerBrowser.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cli {

namespace {

void add(ServerList& list, std::u16string name, std::u16string address, std::u16string version = {})
{
    const bool seen = std::any_of(list.targets.begin(), list.targets.end(), [&address](const report::ServerTarget& t) {
        return db::SameText(t.address, address);
    });
    if (!seen && !address.empty())
        list.targets.push_back({std::move(name), std::move(address), std::move(version)});
}

std::string trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

std::vector<std::string> serverLines(const std::string& text)
{
    std::istringstream in(text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        line = trimmed(line);
        if (!line.empty() && line.front() != '#')
            lines.push_back(line);
    }
    return lines;
}

ServerList serverList(const ServerSources& sources)
{
    ServerList list;
    for (const std::string& name : sources.named)
        add(list, db::fromUtf8(name), db::fromUtf8(name));
    if (!sources.file.empty()) {
        // The name as UTF-8 whatever the system's code page (Windows).
        std::ifstream in(std::filesystem::path(db::fromUtf8(sources.file)), std::ios::binary);
        if (!in) {
            list.error = "cannot read the servers file " + sources.file;
            list.usageError = true;
            return list;
        }
        std::ostringstream text;
        text << in.rdbuf();
        for (const std::string& line : serverLines(text.str()))
            add(list, db::fromUtf8(line), db::fromUtf8(line));
    }
    if (sources.discover) {
        try {
            for (const db::DiscoveredServer& s : db::ServerBrowser::network().browse().servers)
                add(list, s.name, s.address(), s.record.version);
        } catch (const db::EDatabaseError& e) {
            list.error = "discovery: " + db::toUtf8(e.Message());
        }
    }
    return list;
}

} // namespace cli
