// SELECT: the select list, FROM, WHERE (OR of ANDs of comparisons), ORDER BY.
#include "sandbox/sql/ParserCore.h"

namespace sandbox::sql {

SelectStmt Parser::selectBody()
{
    SelectStmt s;
    s.top = topClause();
    do {
        s.items.push_back(selectItem());
    } while (acceptSymbol(u","));

    if (accept(u"FROM")) {
        s.from = objectName();
        if (acceptSymbol(u"("))
            s.fromArgs = functionArgs();
        if (accept(u"AS"))
            name();
        else if (isNameStart(peek()))
            next();
    }
    if (accept(u"WHERE")) {
        if (!s.from)
            fail(tokens_[pos_ - 1]);
        s.where = condition();
    }
    if (accept(u"ORDER")) {
        expect(u"BY");
        do {
            OrderKey key;
            if (peek().kind == TokenKind::Number) {
                key.position = literal().integer;
            } else {
                key.column = name();
                if (acceptSymbol(u"."))
                    key.column = name();
            }
            if (accept(u"DESC"))
                key.descending = true;
            else
                accept(u"ASC");
            s.orderBy.push_back(std::move(key));
        } while (acceptSymbol(u","));
    }
    return s;
}

// TOP n; from 2005 also TOP (n).
std::optional<std::int64_t> Parser::topClause()
{
    if (!accept(u"TOP"))
        return std::nullopt;
    const bool parenthesized = generation_ >= Generation::Sql2005 && acceptSymbol(u"(");
    if (peek().kind != TokenKind::Number)
        fail();
    const Literal n = literal();
    if (n.integer < 0)
        fail(tokens_[pos_ - 1]);
    if (parenthesized)
        expectSymbol(u")");
    return n.integer;
}

// After "FROM name(": a table-valued function's arguments and ")".
std::vector<std::optional<Expr>> Parser::functionArgs()
{
    std::vector<std::optional<Expr>> args;
    if (acceptSymbol(u")"))
        return args;
    do {
        if (accept(u"NULL") || accept(u"DEFAULT"))
            args.emplace_back();
        else
            args.emplace_back(expression(false));
    } while (acceptSymbol(u","));
    expectSymbol(u")");
    return args;
}

std::u16string Parser::columnRef()
{
    std::u16string column = name();
    if (acceptSymbol(u"."))
        column = name();
    return column;
}

Comparison Parser::comparison()
{
    Comparison c;
    if (isNameStart(peek())) {
        c.column = columnRef();
        if (!isComparison(peek()))
            fail();
        c.op = next().value;
        // A function's value, as in `database_id = db_id()`.
        if (peek().kind == TokenKind::Identifier && peek(1).isSymbol(u"("))
            c.call = primary(false);
        else
            c.value = literal();
    } else {
        rejectVariable(peek());
        c.value = literal();
        if (!isComparison(peek()))
            fail();
        c.op = mirrored(next().value);
        c.column = columnRef();
    }
    return c;
}

Condition Parser::condition()
{
    Condition any{{comparison()}};
    for (;;) {
        if (accept(u"AND"))
            any.back().push_back(comparison());
        else if (accept(u"OR"))
            any.push_back({comparison()});
        else
            return any;
    }
}

} // namespace sandbox::sql
