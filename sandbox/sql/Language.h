// The languages the sandbox speaks: a server's default language, and the one
// each session gets at login, as sys.syslanguages names them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sandbox {

enum class Language { English, SimplifiedChinese };

struct LanguageInfo {
    Language language;
    const char16_t* name;   // @@LANGUAGE, the login's ENVCHANGE
    const char16_t* alias;  // the English name SET LANGUAGE also takes
    std::int16_t langId;    // @@LANGID
    std::int16_t msgLangId; // sys.messages' language_id
};

const LanguageInfo& languageInfo(Language language);

// By name or alias, ignoring the case of ASCII letters: "us_english",
// "English", "简体中文", "Simplified Chinese".
std::optional<Language> languageNamed(std::u16string_view name);

// The language a login gets: the one its record names when the server has
// it, else the server's default. (A name the server does not have is
// taken as none; what SQL Server does then is not documented.)
Language sessionLanguage(std::u16string_view named, Language serverDefault);

// "us_english|English|简体中文|'Simplified Chinese'", for usage texts.
std::string languageNames();

} // namespace sandbox
