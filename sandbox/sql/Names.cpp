#include "sandbox/sql/Names.h"

#include <QString>

namespace sandbox {

namespace {

QString view(std::u16string_view s)
{
    return QString::fromRawData(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}

} // namespace

std::u16string_view trimmedRight(std::u16string_view s)
{
    std::size_t n = s.size();
    while (n > 0 && s[n - 1] == u' ')
        --n;
    return s.substr(0, n);
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && view(a).compare(view(b), Qt::CaseInsensitive) == 0;
}

int compareText(std::u16string_view a, std::u16string_view b, bool caseSensitive)
{
    const int c = view(trimmedRight(a)).compare(view(trimmedRight(b)),
                                                caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool isCaseSensitive(std::u16string_view collation)
{
    const QString c = view(collation);
    return c.contains(u"_CS", Qt::CaseInsensitive) || c.contains(u"_BIN", Qt::CaseInsensitive);
}

bool sameName(std::u16string_view a, std::u16string_view b, bool caseSensitive)
{
    return compareText(a, b, caseSensitive) == 0;
}

} // namespace sandbox
