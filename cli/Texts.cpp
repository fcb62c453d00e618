#include "cli/Texts.h"

#include "db/SqlText.h"
#include "db/Text.h"
#include "db/texts/Report.h"

namespace cli::text {

std::string utf8(std::u16string_view text) { return db::toUtf8(text); }

std::string filled(std::u16string_view pattern, std::initializer_list<std::u16string_view> values)
{
    return utf8(db::texts::fill(pattern, values));
}

std::u16string targetMb() { return db::asciiToUtf16(std::to_string(db::sql::ShrinkTargetMb)); }

} // namespace cli::text
