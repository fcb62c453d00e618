// Expressions: what a select list, PRINT and IF compute, and the type names
// of CONVERT and CAST; also ALTER DATABASE, whose options are expressions'
// nearest neighbours in the grammar.
#include "sandbox/sql/ParserCore.h"

#include "sandbox/sql/Messages.h"

namespace sandbox::sql {

namespace {

Expr binary(char16_t op, Expr left, Expr right)
{
    Expr e;
    e.kind = Expr::Kind::Binary;
    e.op = op;
    e.args.push_back(std::move(left));
    e.args.push_back(std::move(right));
    return e;
}

} // namespace

Expr Parser::expression(bool allowColumns)
{
    Expr e = term(allowColumns);
    while (peek().isSymbol(u"+") || peek().isSymbol(u"-")) {
        const char16_t op = next().value[0];
        e = binary(op, std::move(e), term(allowColumns));
    }
    return e;
}

Expr Parser::term(bool allowColumns)
{
    Expr e = factor(allowColumns);
    while (peek().isSymbol(u"*") || peek().isSymbol(u"/") || peek().isSymbol(u"%")) {
        const char16_t op = next().value[0];
        e = binary(op, std::move(e), factor(allowColumns));
    }
    return e;
}

Expr Parser::factor(bool allowColumns)
{
    if (peek().isSymbol(u"-") && peek(1).kind == TokenKind::Number) {
        Expr e;
        e.literal = literal();  // a negative number, kept as one literal
        return e;
    }
    if (acceptSymbol(u"-")) {
        Expr zero;
        zero.literal.kind = Literal::Kind::Integer;
        return binary(u'-', std::move(zero), factor(allowColumns));
    }
    return primary(allowColumns);
}

Expr Parser::primary(bool allowColumns)
{
    const Token& t = peek();
    rejectVariable(t);
    Expr e;
    if (t.kind == TokenKind::Variable) {
        e.kind = Expr::Kind::Variable;
        e.name = upper(next().value);
    } else if (t.kind == TokenKind::String || t.kind == TokenKind::Number) {
        e.literal = literal();
    } else if (acceptSymbol(u"(")) {
        e = expression(allowColumns);
        expectSymbol(u")");
    } else if (t.is(u"CONVERT") && peek(1).isSymbol(u"(")) {
        next();
        next();
        e.kind = Expr::Kind::Convert;
        e.type = typeName();
        expectSymbol(u",");
        e.args.push_back(expression(allowColumns));
        if (acceptSymbol(u","))
            literal();  // a style: no conversion the sandbox does has one
        expectSymbol(u")");
    } else if (t.is(u"CAST") && peek(1).isSymbol(u"(")) {
        next();
        next();
        e.kind = Expr::Kind::Convert;
        e.args.push_back(expression(allowColumns));
        expect(u"AS");
        e.type = typeName();
        expectSymbol(u")");
    } else if (t.kind == TokenKind::Identifier && peek(1).isSymbol(u"(")
               && (!t.isReserved() || t.is(u"COALESCE") || t.is(u"NULLIF") || t.is(u"TRY_CONVERT"))) {
        // Reserved words that name functions are calls too (unknown to the sandbox: 195).
        std::u16string function = upper(next().value);
        next();
        e = call(std::move(function), allowColumns);
    } else if (allowColumns && isNameStart(t)) {
        e.kind = Expr::Kind::Column;
        e.name = next().value;
        if (acceptSymbol(u"."))  // alias.column
            e.name = name();
    } else {
        fail();
    }
    return e;
}

// After "NAME(": the arguments and the closing parenthesis.
Expr Parser::call(std::u16string function, bool allowColumns)
{
    Expr e;
    e.kind = Expr::Kind::Call;
    e.name = std::move(function);
    if (!acceptSymbol(u")")) {
        do {
            e.args.push_back(expression(allowColumns));
        } while (acceptSymbol(u","));
        expectSymbol(u")");
    }
    return e;
}

TypeName Parser::typeName()
{
    const Token& t = peek();
    if (t.kind != TokenKind::Identifier && t.kind != TokenKind::QuotedIdentifier)
        fail();
    const std::u16string type = upper(next().value);
    TypeName n;
    if (type == u"INT" || type == u"INTEGER") n.type = SqlType::Int;
    else if (type == u"SMALLINT") n.type = SqlType::SmallInt;
    else if (type == u"TINYINT") n.type = SqlType::TinyInt;
    else if (type == u"BIGINT") n.type = SqlType::BigInt;
    else if (type == u"VARCHAR" || type == u"CHAR") n.type = SqlType::VarChar;
    else if (type == u"NVARCHAR" || type == u"NCHAR") n.type = SqlType::NVarChar;
    else if (type == u"SYSNAME") {
        n.type = SqlType::NVarChar;
        n.length = 128;
        return n;
    } else
        fail(tokens_[pos_ - 1]);
    if ((n.type == SqlType::VarChar || n.type == SqlType::NVarChar) && acceptSymbol(u"(")) {
        const std::uint16_t most = n.type == SqlType::VarChar ? 8000 : 4000;
        if (accept(u"MAX")) {
            n.length = most;  // the sandbox has no (max) types: their longest plain form
        } else {
            if (peek().kind != TokenKind::Number)
                fail();
            const std::int64_t length = literal().integer;
            if (length < 1 || length > most)
                fail(tokens_[pos_ - 1]);
            n.length = static_cast<std::uint16_t>(length);
        }
        expectSymbol(u")");
    }
    return n;
}

SelectItem Parser::selectItem()
{
    SelectItem item;
    if (acceptSymbol(u"*")) {
        item.star = true;
        return item;
    }
    // alias.* stands for every column, as * does.
    if (isNameStart(peek()) && peek(1).isSymbol(u".") && peek(2).isSymbol(u"*")) {
        next();
        next();
        next();
        item.star = true;
        return item;
    }
    item.expr = expression(true);
    if (accept(u"AS")) {
        item.alias = peek().kind == TokenKind::String ? next().value : name();
        item.hasAlias = true;
    } else if (isNameStart(peek())) {
        item.alias = next().value;
        item.hasAlias = true;
    }
    return item;
}

AlterDatabaseStmt Parser::alterBody()
{
    expect(u"DATABASE");
    AlterDatabaseStmt s;
    s.database = name();
    expect(u"SET");
    expect(u"RECOVERY");
    const Token& model = peek();
    if (model.kind != TokenKind::Identifier)
        fail();
    const auto recovery = recoveryNamed(model.value);
    if (!recovery)
        fail();
    next();
    s.recovery = *recovery;
    if (accept(u"WITH")) {
        if (accept(u"ROLLBACK")) {
            if (!accept(u"IMMEDIATE")) {
                expect(u"AFTER");
                literal();
                accept(u"SECONDS");
            }
        } else {
            expect(u"NO_WAIT");
        }
    }
    return s;
}

} // namespace sandbox::sql
