#include "db/ServerGeneration.h"

#include "db/Text.h"

namespace db {

namespace {

// The digits at `at`, moving past them; nullopt when there are none.
std::optional<int> number(std::u16string_view text, std::size_t& at)
{
    int value = 0;
    const std::size_t start = at;
    while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && at - start < 6)
        value = value * 10 + (text[at++] - u'0');
    if (at == start)
        return std::nullopt;
    return value;
}

constexpr std::pair<RecoveryModel, const char16_t*> Names[] = {
    {RecoveryModel::Full, u"FULL"}, {RecoveryModel::BulkLogged, u"BULK_LOGGED"}, {RecoveryModel::Simple, u"SIMPLE"}};

} // namespace

ServerVersion ServerVersion::parse(std::u16string_view text)
{
    return tryParse(text).value_or(ServerVersion{});
}

std::optional<ServerVersion> ServerVersion::tryParse(std::u16string_view text)
{
    std::size_t at = 0;
    const auto major = number(text, at);
    if (!major || at >= text.size() || text[at++] != u'.')
        return std::nullopt;
    const auto minor = number(text, at);
    if (!minor || at >= text.size() || text[at++] != u'.')
        return std::nullopt;
    const auto build = number(text, at);
    if (!build || *major < 7)  // nothing before SQL Server 7 speaks TDS 7
        return std::nullopt;
    return ServerVersion{*major, *minor, *build};
}

std::optional<RecoveryModel> recoveryModelNamed(std::u16string_view name)
{
    for (const auto& [model, spelled] : Names)
        if (SameText(Trim(std::u16string(name)), spelled))
            return model;
    return std::nullopt;
}

const char16_t* recoveryModelName(RecoveryModel model)
{
    for (const auto& [m, spelled] : Names)
        if (m == model)
            return spelled;
    return u"FULL";
}

} // namespace db
