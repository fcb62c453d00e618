// The parser's inside, shared by its files: Parser.cpp (statements, names,
// literals), ParseSelect.cpp (SELECT and WHERE) and ParseCommands.cpp (the
// other statements). Not for use outside the parser.
#pragma once

#include "sandbox/sql/Generation.h"
#include "sandbox/sql/Lexer.h"
#include "sandbox/sql/Statements.h"

#include <string>
#include <string_view>
#include <vector>

namespace sandbox::sql {

bool isComparison(const Token& t);
std::u16string upper(std::u16string_view s);
// `a op b` read as `b op' a`.
std::u16string mirrored(const std::u16string& op);

class Parser {
public:
    Parser(std::u16string_view batch, Generation generation) : tokens_(tokenize(batch, generation)), generation_(generation) {}

    std::vector<Statement> run();

private:

    const Token& peek(std::size_t ahead = 0) const
    {
        const std::size_t i = pos_ + ahead;
        return i < tokens_.size() ? tokens_[i] : tokens_.back();
    }

    const Token& next()
    {
        const Token& t = peek();
        if (pos_ + 1 < tokens_.size())
            ++pos_;
        return t;
    }

    [[noreturn]] void fail(const Token& at) const;

    [[noreturn]] void fail() const { fail(peek()); }

    void skipSemicolons()
    {
        while (peek().isSymbol(u";"))
            next();
    }

    bool accept(std::u16string_view word)
    {
        if (!peek().is(word))
            return false;
        next();
        return true;
    }

    bool acceptSymbol(std::u16string_view symbol)
    {
        if (!peek().isSymbol(symbol))
            return false;
        next();
        return true;
    }

    void expect(std::u16string_view word)
    {
        if (!accept(word))
            fail();
    }

    void expectSymbol(std::u16string_view symbol)
    {
        if (!acceptSymbol(symbol))
            fail();
    }

    static bool isNameStart(const Token& t)
    {
        return t.kind == TokenKind::QuotedIdentifier || (t.kind == TokenKind::Identifier && !t.isReserved());
    }

    static bool startsStatement(const Token& t);

    std::u16string name();

    void rejectVariable(const Token& t) const;

    template <class Fill>
    Statement wrap(Fill fill)
    {
        Statement s;
        s.begin = peek().begin;
        s.line = peek().line;
        fill(s);
        s.end = tokens_[pos_ > 0 ? pos_ - 1 : 0].end;
        return s;
    }

    Statement statement();

    ObjectName objectName();

    Literal literal();

    // Expressions (ParseExpr.cpp), by precedence: + and -, then * / %, then
    // unary minus, then a primary; columns only where a table is in reach.
    Expr expression(bool allowColumns);
    Expr term(bool allowColumns);
    Expr factor(bool allowColumns);
    Expr primary(bool allowColumns);
    Expr call(std::u16string function, bool allowColumns);
    TypeName typeName();
    SelectItem selectItem();
    AlterDatabaseStmt alterBody();

    SelectStmt selectBody();

    std::u16string columnRef();

    Comparison comparison();

    Condition condition();

    ExecStmt execBody();

    BackupLogStmt backupBody();

    void backupOptions();

    void dbccBody(Statement& s);

    bool dbccWith();

    ShrinkFileStmt shrinkFileBody();

    DbccLogInfoStmt logInfoBody();

    std::optional<std::int64_t> topClause();

    std::vector<std::optional<Expr>> functionArgs();

    SetStmt setBody();

    void skipTranName();

    void beginBody(Statement& s);

    TranStmt tranEnd(TranStmt::Kind kind);

    IfStmt ifBody();

    CheckpointStmt checkpointBody();

    WaitForStmt waitForBody();

    // How deeply BEGIN ... END and IF may nest: deeper batches are refused
    // rather than allowed to exhaust the session thread's stack.
    static constexpr int MaxNesting = 128;

    std::vector<Token> tokens_;
    Generation generation_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

} // namespace sandbox::sql
