#include "sandbox/sql/Tables.h"

#include "sandbox/sql/Messages.h"

#include <QString>

namespace sandbox::sql {

const char16_t* typeName(SqlType type)
{
    switch (type) {
    case SqlType::TinyInt: return u"tinyint";
    case SqlType::SmallInt: return u"smallint";
    case SqlType::Int: return u"int";
    case SqlType::BigInt: return u"bigint";
    case SqlType::VarChar: return u"varchar";
    case SqlType::NChar: return u"nchar";
    case SqlType::NText: return u"ntext";
    case SqlType::Variant: return u"sql_variant";
    case SqlType::DateTime: return u"datetime";
    case SqlType::VarBinary: return u"varbinary";
    case SqlType::Char: return u"char";
    case SqlType::Numeric: return u"numeric";
    case SqlType::Float: return u"float";
    case SqlType::Real: return u"real";
    case SqlType::Bit: return u"bit";
    case SqlType::NVarChar: break;
    }
    return u"nvarchar";
}

bool holds(int cmp, const std::u16string& op)
{
    if (op == u"=") return cmp == 0;
    if (op == u"<>" || op == u"!=") return cmp != 0;
    if (op == u"<") return cmp < 0;
    if (op == u">") return cmp > 0;
    if (op == u"<=" || op == u"!>") return cmp <= 0;
    if (op == u">=" || op == u"!<") return cmp >= 0;
    return false;
}

bool matches(const Value& value, const Column& column, const Comparison& c, bool caseSensitive)
{
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        std::int64_t rhs = c.value.integer;
        if (c.value.kind == Literal::Kind::String) {
            bool ok = false;
            rhs = QString::fromStdU16String(c.value.text).trimmed().toLongLong(&ok);
            if (!ok)
                throw StatementError{makeMessage(
                    245, {c.value.national ? u"nvarchar" : u"varchar", c.value.text, typeName(column.type)})};
        }
        return holds(threeWay(*i, rhs), c.op);
    }
    if (const auto* s = std::get_if<std::u16string>(&value)) {
        if (c.value.kind == Literal::Kind::Integer) {
            bool ok = false;
            const qlonglong lhs = QString::fromStdU16String(std::u16string(trimmedRight(*s))).trimmed().toLongLong(&ok);
            if (!ok)
                throw StatementError{makeMessage(245, {typeName(column.type), trimmedRight(*s), u"int"})};
            return holds(threeWay<std::int64_t>(lhs, c.value.integer), c.op);
        }
        return holds(compareText(*s, c.value.text, caseSensitive), c.op);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        bool ok = c.value.kind == Literal::Kind::Integer;
        const double rhs = ok ? static_cast<double>(c.value.integer)
                              : QString::fromStdU16String(c.value.text).trimmed().toDouble(&ok);
        if (!ok)
            throw StatementError{makeMessage(
                245, {c.value.national ? u"nvarchar" : u"varchar", c.value.text, typeName(column.type)})};
        return holds(threeWay(*d, rhs), c.op);
    }
    return false;  // NULL, datetime and binary never compare true here
}

int compareValues(const Value& a, const Value& b, bool caseSensitive)
{
    if (a.index() != b.index())
        return threeWay(a.index(), b.index());  // NULL sorts first
    if (const auto* i = std::get_if<std::int64_t>(&a))
        return threeWay(*i, std::get<std::int64_t>(b));
    if (const auto* s = std::get_if<std::u16string>(&a))
        return compareText(*s, std::get<std::u16string>(b), caseSensitive);
    if (const auto* f = std::get_if<double>(&a))
        return threeWay(*f, std::get<double>(b));
    if (const auto* d = std::get_if<DateTime>(&a)) {
        const DateTime& e = std::get<DateTime>(b);
        return d->days != e.days ? threeWay(d->days, e.days) : threeWay(d->ticks, e.ticks);
    }
    return 0;
}

std::optional<std::size_t> columnIndex(const std::vector<Column>& columns, const std::u16string& name,
                                       bool caseSensitive)
{
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (sameName(columns[i].name, name, caseSensitive))
            return i;
    return std::nullopt;
}

} // namespace sandbox::sql
