// Expressions: literals, @@variables, columns, functions, CONVERT and CAST,
// integer arithmetic, and comparing two values.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/Messages.h"

#include <QString>

#include <algorithm>
#include <climits>
#include <limits>

namespace sandbox::sql {

namespace {

Column typed(SqlType type, std::uint16_t length = 0, bool nullable = false)
{
    Column c;
    c.type = type;
    c.maxLength = length;
    c.nullable = nullable;
    return c;
}

bool isInteger(SqlType t)
{
    return t == SqlType::TinyInt || t == SqlType::SmallInt || t == SqlType::Int || t == SqlType::BigInt;
}

std::pair<std::int64_t, std::int64_t> rangeOf(SqlType t)
{
    switch (t) {
    case SqlType::TinyInt: return {0, 255};
    case SqlType::SmallInt: return {INT16_MIN, INT16_MAX};
    case SqlType::Int: return {INT32_MIN, INT32_MAX};
    default: return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
    }
}

} // namespace

Executor::Typed Executor::evaluate(const Expr& e, const Scope& scope)
{
    switch (e.kind) {
    case Expr::Kind::Literal:
        if (e.literal.kind == Literal::Kind::Integer) {
            const bool fitsInt = e.literal.integer >= INT32_MIN && e.literal.integer <= INT32_MAX;
            return {typed(fitsInt ? SqlType::Int : SqlType::BigInt), e.literal.integer};
        }
        return {typed(e.literal.national ? SqlType::NVarChar : SqlType::VarChar,
                      static_cast<std::uint16_t>(std::clamp<std::size_t>(e.literal.text.size(), 1, 4000))),
                e.literal.text};
    case Expr::Kind::Variable:
        return variable(e.name);
    case Expr::Kind::Column: {
        const auto i = scope.table ? columnIndex(scope.table->columns, e.name, scope.caseSensitive) : std::nullopt;
        if (!i)
            throw StatementError{makeMessage(207, {e.name})};
        Column c = scope.table->columns[*i];
        return {c, scope.row ? (*scope.row)[*i] : Value{Null{}}};
    }
    case Expr::Kind::Call:
        return function(e, scope);
    case Expr::Kind::Convert:
        return convert(evaluate(e.args.at(0), scope), e.type);
    case Expr::Kind::Binary:
        return arithmetic(e.op, evaluate(e.args.at(0), scope), evaluate(e.args.at(1), scope));
    }
    throw StatementError{makeMessage(263)};
}

Executor::Typed Executor::variable(const std::u16string& name)
{
    if (name == u"@@TRANCOUNT")
        return {typed(SqlType::Int), std::int64_t{session_.tranCount}};
    if (name == u"@@SPID")
        return {typed(SqlType::SmallInt), std::int64_t{session_.spid}};
    if (name == u"@@VERSION")
        return {typed(SqlType::NVarChar, 300), std::u16string(generationInfo(generation()).versionText)};
    if (name == u"@@MICROSOFTVERSION")
        return {typed(SqlType::Int), std::int64_t{microsoftVersion(generation())}};
    if (name == u"@@SERVERNAME")
        return {typed(SqlType::NVarChar, 128, true), serverName_};
    if (name == u"@@LANGUAGE")
        return {typed(SqlType::NVarChar, 128), std::u16string(languageInfo(session_.language).name)};
    if (name == u"@@LANGID")
        return {typed(SqlType::SmallInt), std::int64_t{languageInfo(session_.language).langId}};
    if (name == u"@@ERROR" || name == u"@@ROWCOUNT")
        return {typed(SqlType::Int), std::int64_t{0}};
    throw StatementError{makeMessage(137, {name})};
}

Executor::Typed Executor::function(const Expr& e, const Scope& scope)
{
    std::vector<Typed> args;
    for (const Expr& a : e.args)
        args.push_back(evaluate(a, scope));
    const auto text = [&args](std::size_t i) -> std::optional<std::u16string> {
        if (const auto* s = std::get_if<std::u16string>(&args.at(i).value))
            return *s;
        return std::nullopt;
    };
    const auto arity = [&](std::size_t low, std::size_t high) {
        if (args.size() < low || args.size() > high)
            throw StatementError{makeMessage(174, {e.name, toU16(static_cast<long long>(low))})};
    };
    if (e.name == u"DB_NAME") {
        arity(0, 1);
        Value name = Null{};
        if (args.empty()) {
            name = session_.database;
        } else if (const auto* id = std::get_if<std::int64_t>(&args[0].value)) {
            for (const Database& d : catalog_.databases)
                if (d.dbId == *id)
                    name = d.name;
        }
        return {typed(SqlType::NVarChar, 128, true), name};
    }
    if (e.name == u"DB_ID") {
        arity(0, 1);
        const Database* db = catalog_.find(args.empty() ? session_.database : text(0).value_or(u""));
        return {typed(SqlType::SmallInt, 0, true), db ? Value{std::int64_t{db->dbId}} : Value{Null{}}};
    }
    if (e.name == u"ISNULL") {
        arity(2, 2);
        if (std::holds_alternative<Null>(args[0].value))
            return {args[0].column, convert(args[1], TypeName{args[0].column.type, args[0].column.maxLength}).value};
        return args[0];
    }
    if (e.name == u"SERVERPROPERTY") {
        arity(1, 1);
        const auto property = text(0);
        return {typed(SqlType::Variant, 0, true), property ? serverProperty(*property) : Value{Null{}}};
    }
    if (e.name == u"DATABASEPROPERTYEX") {
        arity(2, 2);
        const auto db = text(0);
        const auto property = text(1);
        return {typed(SqlType::Variant, 0, true), db && property ? databaseProperty(*db, *property) : Value{Null{}}};
    }
    throw StatementError{makeMessage(195, {e.name})};
}

Executor::Typed Executor::convert(const Typed& from, const TypeName& to)
{
    Typed result{typed(to.type, isInteger(to.type) ? 0 : to.length, true), Null{}};
    if (std::holds_alternative<Null>(from.value))
        return result;
    if (isInteger(to.type)) {
        std::int64_t n = 0;
        if (const auto* i = std::get_if<std::int64_t>(&from.value)) {
            n = *i;
        } else if (const auto* d = std::get_if<double>(&from.value)) {
            if (!(*d > -9.2e18 && *d < 9.2e18))  // also NaN
                throw StatementError{makeMessage(8115, {typeName(to.type)})};
            n = static_cast<std::int64_t>(*d);
        } else {
            const std::u16string& s = std::get<std::u16string>(from.value);
            bool ok = false;
            n = QString::fromStdU16String(s).trimmed().toLongLong(&ok);
            if (!ok)
                throw StatementError{makeMessage(245, {typeName(from.column.type), trimmedRight(s), typeName(to.type)})};
        }
        const auto [low, high] = rangeOf(to.type);
        if (n < low || n > high)
            throw StatementError{makeMessage(8115, {typeName(to.type)})};
        result.value = n;
        return result;
    }
    std::u16string s;
    if (const auto* i = std::get_if<std::int64_t>(&from.value))
        s = toU16(*i);
    else if (const auto* d = std::get_if<double>(&from.value))
        s = QString::number(*d, 'g', 15).toStdU16String();
    else if (const auto* t = std::get_if<std::u16string>(&from.value))
        s = *t;
    result.value = s.substr(0, to.length);
    return result;
}

Executor::Typed Executor::arithmetic(char16_t op, const Typed& left, const Typed& right)
{
    const bool text = !isInteger(left.column.type) && !isInteger(right.column.type);
    if (text && op == u'+') {
        Typed r{typed(SqlType::NVarChar, 4000, true), Null{}};
        const auto* a = std::get_if<std::u16string>(&left.value);
        const auto* b = std::get_if<std::u16string>(&right.value);
        if (a && b)
            r.value = (*a + *b).substr(0, 4000);
        return r;
    }
    // Text meets a number as the number's type, as SQL Server's precedence has it.
    const TypeName asInt{SqlType::BigInt, 0};
    const Typed a = isInteger(left.column.type) ? left : convert(left, asInt);
    const Typed b = isInteger(right.column.type) ? right : convert(right, asInt);
    const SqlType type = a.column.type == SqlType::BigInt || b.column.type == SqlType::BigInt ? SqlType::BigInt
                                                                                              : SqlType::Int;
    Typed r{typed(type, 0, true), Null{}};
    const auto* x = std::get_if<std::int64_t>(&a.value);
    const auto* y = std::get_if<std::int64_t>(&b.value);
    if (!x || !y)
        return r;
    if ((op == u'/' || op == u'%') && *y == 0)
        throw StatementError{makeMessage(8134)};
    std::int64_t v = 0;
    bool overflow = false;
    switch (op) {
    case u'+': overflow = __builtin_add_overflow(*x, *y, &v); break;
    case u'-': overflow = __builtin_sub_overflow(*x, *y, &v); break;
    case u'*': overflow = __builtin_mul_overflow(*x, *y, &v); break;
    case u'/': overflow = *x == std::numeric_limits<std::int64_t>::min() && *y == -1; v = overflow ? 0 : *x / *y; break;
    default: overflow = *x == std::numeric_limits<std::int64_t>::min() && *y == -1; v = overflow ? 0 : *x % *y; break;
    }
    const auto [low, high] = rangeOf(type);
    if (overflow || v < low || v > high)
        throw StatementError{makeMessage(8115, {typeName(type)})};
    r.value = v;
    return r;
}

// Three-way, or 2 when either side is NULL (unknown: no comparison holds).
int Executor::compare(const Typed& left, const Typed& right, bool caseSensitive)
{
    if (std::holds_alternative<Null>(left.value) || std::holds_alternative<Null>(right.value))
        return 2;
    const auto* a = std::get_if<std::u16string>(&left.value);
    const auto* b = std::get_if<std::u16string>(&right.value);
    if (a && b)
        return compareText(*a, *b, caseSensitive);
    const auto* f = std::get_if<double>(&left.value);
    const auto* g = std::get_if<double>(&right.value);
    if (f || g) {
        const auto asDouble = [this](const Typed& t) {
            if (const auto* d = std::get_if<double>(&t.value))
                return *d;
            return static_cast<double>(std::get<std::int64_t>(convert(t, TypeName{SqlType::BigInt, 0}).value));
        };
        return threeWay(asDouble(left), asDouble(right));
    }
    const TypeName asInt{SqlType::BigInt, 0};
    const std::int64_t x = std::get<std::int64_t>(a ? convert(left, asInt).value : left.value);
    const std::int64_t y = std::get<std::int64_t>(b ? convert(right, asInt).value : right.value);
    return threeWay(x, y);
}

} // namespace sandbox::sql
