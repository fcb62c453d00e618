#include "sandbox/sql/Language.h"

#include "sandbox/sql/Names.h"

#include <QString>

namespace sandbox {

namespace {

// sys.syslanguages' rows for the two (Learn, "sys.syslanguages"; SQL Server
// installed in Simplified Chinese has langid 30, msglangid 2052).
constexpr LanguageInfo Languages[] = {
    {Language::English, u"us_english", u"English", 0, 1033},
    {Language::SimplifiedChinese, u"简体中文", u"Simplified Chinese", 30, 2052},
};

} // namespace

const LanguageInfo& languageInfo(Language language)
{
    for (const LanguageInfo& l : Languages)
        if (l.language == language)
            return l;
    return Languages[0];
}

std::optional<Language> languageNamed(std::u16string_view name)
{
    for (const LanguageInfo& l : Languages)
        if (equalsIgnoreCase(name, l.name) || equalsIgnoreCase(name, l.alias))
            return l.language;
    return std::nullopt;
}

Language sessionLanguage(std::u16string_view named, Language serverDefault)
{
    return languageNamed(named).value_or(serverDefault);
}

std::string languageNames()
{
    std::string names;
    for (const LanguageInfo& l : Languages) {
        if (!names.empty())
            names += '|';
        const QString alias = QString::fromUtf16(l.alias);
        names += QString::fromUtf16(l.name).toStdString() + '|'
                 + (alias.contains(u' ') ? "'" + alias.toStdString() + "'" : alias.toStdString());
    }
    return names;
}

} // namespace sandbox
