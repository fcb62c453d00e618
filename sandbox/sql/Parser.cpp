#include "sandbox/sql/Parser.h"
#include "sandbox/sql/ParserCore.h"

#include "sandbox/sql/Messages.h"

#include <QString>

namespace sandbox::sql {

bool isComparison(const Token& t)
{
    if (t.kind != TokenKind::Symbol)
        return false;
    return t.value == u"=" || t.value == u"<>" || t.value == u"!=" || t.value == u"<" || t.value == u">"
        || t.value == u"<=" || t.value == u">=" || t.value == u"!<" || t.value == u"!>";
}

std::u16string upper(std::u16string_view s)
{
    const QString q = QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())).toUpper();
    return q.toStdU16String();
}

// `a op b` read as `b op' a`.
std::u16string mirrored(const std::u16string& op)
{
    if (op == u"<") return u">";
    if (op == u">") return u"<";
    if (op == u"<=") return u">=";
    if (op == u">=") return u"<=";
    if (op == u"!<") return u"!>";
    if (op == u"!>") return u"!<";
    return op;
}


std::vector<Statement> Parser::run()
{
    std::vector<Statement> statements;
    for (;;) {
        skipSemicolons();
        if (peek().kind == TokenKind::End)
            return statements;
        // A batch may start with a procedure's name alone, as in "sp_who".
        if (statements.empty() && !startsStatement(peek()) && isNameStart(peek()))
            statements.push_back(wrap([this](Statement& s) { s.body = execBody(); }));
        else
            statements.push_back(statement());
    }
}

void Parser::fail(const Token& at) const
{
    const Token* t = &at;
    // At the end of the batch SQL Server names the last token it read.
    if (t->kind == TokenKind::End && pos_ > 0)
        t = &tokens_[pos_ - 1];
    if (t->kind == TokenKind::End)
        throw SyntaxError(makeMessage(170, {toU16(t->line), u""}, t->line));
    if (t->isReserved())
        throw SyntaxError(makeMessage(156, {t->value}, t->line));
    throw SyntaxError(makeMessage(170, {toU16(t->line), t->value}, t->line));
}

std::u16string Parser::name()
{
    if (!isNameStart(peek()))
        fail();
    return next().value;
}

bool Parser::startsStatement(const Token& t)
{
    static constexpr std::u16string_view Starts[] = {u"SELECT", u"USE", u"EXEC", u"EXECUTE", u"BACKUP",
                                                     u"DBCC", u"SET", u"BEGIN", u"COMMIT", u"ROLLBACK",
                                                     u"IF", u"PRINT", u"WAITFOR", u"CHECKPOINT", u"ALTER"};
    for (std::u16string_view w : Starts)
        if (t.is(w))
            return true;
    return false;
}

void Parser::rejectVariable(const Token& t) const
{
    if (t.kind == TokenKind::Variable && t.value.rfind(u"@@", 0) != 0)
        throw SyntaxError(makeMessage(137, {t.value}, t.line));
}

Statement Parser::statement()
{
    const Token& t = peek();
    if (!startsStatement(t))
        fail();
    if (depth_ >= MaxNesting)
        throw SyntaxError(makeMessage(191, {}, t.line));
    struct Nested {
        int& depth;
        explicit Nested(int& d) : depth(++d) {}
        ~Nested() { --depth; }
    } nested(depth_);
    return wrap([this](Statement& s) {
        const Token& first = next();
        if (first.is(u"SELECT")) s.body = selectBody();
        else if (first.is(u"USE")) s.body = UseStmt{name()};
        else if (first.is(u"EXEC") || first.is(u"EXECUTE")) s.body = execBody();
        else if (first.is(u"BACKUP")) s.body = backupBody();
        else if (first.is(u"DBCC")) dbccBody(s);
        else if (first.is(u"SET")) s.body = setBody();
        else if (first.is(u"BEGIN")) beginBody(s);
        else if (first.is(u"COMMIT")) s.body = tranEnd(TranStmt::Kind::Commit);
        else if (first.is(u"ROLLBACK")) s.body = tranEnd(TranStmt::Kind::Rollback);
        else if (first.is(u"IF")) s.body = ifBody();
        else if (first.is(u"WAITFOR")) s.body = waitForBody();
        else if (first.is(u"CHECKPOINT")) s.body = checkpointBody();
        else if (first.is(u"ALTER")) s.body = alterBody();
        else s.body = PrintStmt{expression(false)};
    });
}

ObjectName Parser::objectName()
{
    std::vector<std::u16string> parts{name()};
    while (peek().isSymbol(u".")) {
        next();
        if (peek().isSymbol(u".")) {
            parts.emplace_back();  // db..object
            continue;
        }
        parts.push_back(name());
    }
    if (parts.size() > 3)
        fail(tokens_[pos_ - 1]);
    ObjectName n;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            n.display += u'.';
        n.display += parts[i];
    }
    n.object = parts.back();
    if (parts.size() >= 2)
        n.owner = parts[parts.size() - 2];
    if (parts.size() == 3)
        n.database = parts[0];
    return n;
}

Literal Parser::literal()
{
    Literal l;
    bool negative = false;
    if (peek().isSymbol(u"-") && peek(1).kind == TokenKind::Number) {
        next();
        negative = true;
    }
    const Token& t = peek();
    if (t.kind == TokenKind::String) {
        if (negative)
            fail();
        l.kind = Literal::Kind::String;
        l.text = t.value;
        l.national = t.national;
    } else if (t.kind == TokenKind::Number) {
        bool ok = false;
        // Binary literals count as the integers they spell, as in 0x01000000;
        // decimals are not among the sandbox's types.
        const QString digits = QString::fromStdU16String(t.value);
        const bool hex = digits.startsWith(u"0x", Qt::CaseInsensitive);
        const qlonglong v = hex ? digits.mid(2).toLongLong(&ok, 16) : digits.toLongLong(&ok);
        if (!ok)
            fail();
        l.kind = Literal::Kind::Integer;
        l.integer = negative ? -v : v;
        l.text = (negative ? u"-" : u"") + t.value;
    } else {
        fail();
    }
    next();
    return l;
}

std::vector<Statement> parseBatch(std::u16string_view batch, Generation generation)
{
    return Parser(batch, generation).run();
}

} // namespace sandbox::sql
