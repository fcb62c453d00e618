#include "SqlParser.h"

#include "Messages.h"

#include <QString>
#include <QStringList>

namespace sandbox::sql {

namespace {

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

class Parser {
public:
    explicit Parser(std::u16string_view batch) : tokens_(tokenize(batch)) {}

    std::vector<Statement> run()
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

    [[noreturn]] void fail(const Token& at) const
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

    static bool startsStatement(const Token& t)
    {
        static constexpr std::u16string_view Starts[] = {u"SELECT", u"USE", u"EXEC", u"EXECUTE", u"BACKUP",
                                                         u"DBCC", u"SET", u"BEGIN", u"COMMIT", u"ROLLBACK",
                                                         u"IF", u"PRINT", u"WAITFOR", u"CHECKPOINT"};
        for (std::u16string_view w : Starts)
            if (t.is(w))
                return true;
        return false;
    }

    std::u16string name()
    {
        if (!isNameStart(peek()))
            fail();
        return next().value;
    }

    void rejectVariable(const Token& t) const
    {
        if (t.kind == TokenKind::Variable && t.value.rfind(u"@@", 0) != 0)
            throw SyntaxError(makeMessage(137, {t.value}, t.line));
    }

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

    Statement statement()
    {
        const Token& t = peek();
        if (!startsStatement(t))
            fail();
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
            else s.body = PrintStmt{operand(true)};
        });
    }

    ObjectName objectName()
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

    Literal literal()
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
            const qlonglong v = QString::fromStdU16String(t.value).toLongLong(&ok);
            if (!ok)
                fail();  // decimals and binary literals are not among the sandbox's types
            l.kind = Literal::Kind::Integer;
            l.integer = negative ? -v : v;
            l.text = (negative ? u"-" : u"") + t.value;
        } else {
            fail();
        }
        next();
        return l;
    }

    // A select-list expression, PRINT's argument or an IF operand.
    SelectItem operand(bool allowColumns)
    {
        SelectItem item;
        const Token& t = peek();
        rejectVariable(t);
        if (t.kind == TokenKind::Variable) {
            item.kind = SelectItem::Kind::Variable;
            item.name = upper(next().value);
        } else if (t.kind == TokenKind::String || t.kind == TokenKind::Number || t.isSymbol(u"-")) {
            item.kind = SelectItem::Kind::Literal;
            item.literal = literal();
        } else if (allowColumns && t.is(u"DB_NAME") && peek(1).isSymbol(u"(")) {
            next();
            next();
            expectSymbol(u")");
            item.kind = SelectItem::Kind::DbName;
        } else if (allowColumns && t.isSymbol(u"*")) {
            next();
            item.kind = SelectItem::Kind::Star;
        } else if (allowColumns && isNameStart(t)) {
            item.kind = SelectItem::Kind::Column;
            item.name = next().value;
            if (acceptSymbol(u".")) {  // alias.column or alias.*
                if (acceptSymbol(u"*")) {
                    item.kind = SelectItem::Kind::Star;
                    item.name.clear();
                } else {
                    item.name = name();
                }
            }
        } else {
            fail();
        }
        return item;
    }

    SelectStmt selectBody()
    {
        SelectStmt s;
        do {
            SelectItem item = operand(true);
            if (item.kind != SelectItem::Kind::Star) {
                if (accept(u"AS")) {
                    if (peek().kind == TokenKind::String)
                        item.alias = next().value;
                    else
                        item.alias = name();
                    item.hasAlias = true;
                } else if (isNameStart(peek())) {
                    item.alias = next().value;
                    item.hasAlias = true;
                }
            }
            s.items.push_back(std::move(item));
        } while (acceptSymbol(u","));

        if (accept(u"FROM")) {
            s.from = objectName();
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
                    key.position = static_cast<int>(literal().integer);
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

    std::u16string columnRef()
    {
        std::u16string column = name();
        if (acceptSymbol(u"."))
            column = name();
        return column;
    }

    Comparison comparison()
    {
        Comparison c;
        if (isNameStart(peek())) {
            c.column = columnRef();
            if (!isComparison(peek()))
                fail();
            c.op = next().value;
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

    Condition condition()
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

    ExecStmt execBody()
    {
        ExecStmt e;
        e.procedure = objectName();
        const Token& t = peek();
        if (t.kind == TokenKind::String || t.kind == TokenKind::Number || t.isSymbol(u"-") || isNameStart(t)
            || t.kind == TokenKind::Variable) {
            do {
                rejectVariable(peek());
                if (isNameStart(peek())) {
                    Literal l;
                    l.kind = Literal::Kind::String;
                    l.text = next().value;
                    e.args.push_back(std::move(l));
                } else {
                    e.args.push_back(literal());
                }
            } while (acceptSymbol(u","));
        }
        return e;
    }

    BackupLogStmt backupBody()
    {
        BackupLogStmt b;
        expect(u"LOG");
        b.database = name();
        if (accept(u"TO")) {
            expect(u"DISK");
            expectSymbol(u"=");
            if (peek().kind != TokenKind::String)
                fail();
            next();
            b.option = u"DISK";
            if (accept(u"WITH"))
                backupOptions();
            return b;
        }
        expect(u"WITH");
        if (peek().is(u"TRUNCATE_ONLY") || peek().is(u"NO_LOG"))
            b.option = upper(next().value);
        else
            fail();
        return b;
    }

    void backupOptions()
    {
        do {
            if (peek().kind != TokenKind::Identifier)
                fail();
            next();
            if (acceptSymbol(u"="))
                literal();
        } while (acceptSymbol(u","));
    }

    void dbccBody(Statement& s)
    {
        if (peek().kind != TokenKind::Identifier)
            fail();
        const Token& command = next();
        if (command.is(u"SHRINKFILE")) {
            s.body = shrinkFileBody();
            return;
        }
        // Other DBCC commands parse (balanced parentheses, WITH options) and fail when run.
        if (acceptSymbol(u"(")) {
            int depth = 1;
            while (depth > 0) {
                const Token& t = next();
                if (t.kind == TokenKind::End)
                    fail(t);
                if (t.isSymbol(u"("))
                    ++depth;
                else if (t.isSymbol(u")"))
                    --depth;
            }
        }
        dbccWith();
        s.body = DbccOtherStmt{upper(command.value)};
    }

    bool dbccWith()
    {
        bool noInfo = false;
        if (accept(u"WITH")) {
            do {
                if (peek().kind != TokenKind::Identifier)
                    fail();
                noInfo = noInfo || peek().is(u"NO_INFOMSGS");
                next();
            } while (acceptSymbol(u","));
        }
        return noInfo;
    }

    ShrinkFileStmt shrinkFileBody()
    {
        ShrinkFileStmt s;
        expectSymbol(u"(");
        const Token& file = peek();
        if (file.kind == TokenKind::Number) {
            s.byId = true;
            s.fileId = literal().integer;
            s.fileName = file.value;
        } else if (file.kind == TokenKind::String || isNameStart(file)) {
            s.fileName = next().value;
        } else {
            fail();
        }
        if (acceptSymbol(u",")) {
            if (accept(u"TRUNCATEONLY")) {
                s.truncateOnly = true;
            } else {
                if (peek().kind != TokenKind::Number)
                    fail();
                s.targetMb = literal().integer;
                if (acceptSymbol(u",")) {
                    if (accept(u"TRUNCATEONLY"))
                        s.truncateOnly = true;
                    else
                        expect(u"NOTRUNCATE");
                }
            }
        }
        expectSymbol(u")");
        s.noInfoMessages = dbccWith();
        return s;
    }

    SetStmt setBody()
    {
        SetStmt s;
        rejectVariable(peek());
        if (accept(u"TRANSACTION")) {
            expect(u"ISOLATION");
            expect(u"LEVEL");
            s.options.push_back(u"TRANSACTION ISOLATION LEVEL");
            if (accept(u"READ")) {
                if (!accept(u"COMMITTED"))
                    expect(u"UNCOMMITTED");
            } else if (accept(u"REPEATABLE")) {
                expect(u"READ");
            } else if (!accept(u"SERIALIZABLE")) {
                expect(u"SNAPSHOT");
            }
            return s;
        }
        do {
            if (peek().kind != TokenKind::Identifier || peek().isReserved())
                fail();
            s.options.push_back(upper(next().value));
        } while (acceptSymbol(u","));
        const Token& v = peek();
        if (v.is(u"ON") || v.is(u"OFF") || (v.kind == TokenKind::Identifier && !v.isReserved())
            || v.kind == TokenKind::QuotedIdentifier) {
            s.value = upper(next().value);
        } else if (v.kind == TokenKind::Number || v.kind == TokenKind::String || v.isSymbol(u"-")) {
            s.value = literal().text;
        } else {
            fail();
        }
        return s;
    }

    void skipTranName()
    {
        if (isNameStart(peek()) || (peek().kind == TokenKind::Variable && peek().value.rfind(u"@@", 0) != 0))
            next();
    }

    void beginBody(Statement& s)
    {
        accept(u"DISTRIBUTED");
        if (accept(u"TRAN") || accept(u"TRANSACTION")) {
            skipTranName();
            s.body = TranStmt{TranStmt::Kind::Begin};
            return;
        }
        BlockStmt block;
        for (;;) {
            skipSemicolons();
            if (accept(u"END"))
                break;
            block.body.push_back(statement());
        }
        s.body = std::move(block);
    }

    TranStmt tranEnd(TranStmt::Kind kind)
    {
        if (accept(u"TRAN") || accept(u"TRANSACTION"))
            skipTranName();
        else
            accept(u"WORK");
        return TranStmt{kind};
    }

    IfStmt ifBody()
    {
        IfStmt s;
        s.left = operand(false);
        if (!isComparison(peek()))
            fail();
        s.op = next().value;
        s.right = operand(false);
        s.then.push_back(statement());
        skipSemicolons();
        if (accept(u"ELSE"))
            s.otherwise.push_back(statement());
        return s;
    }

    CheckpointStmt checkpointBody()
    {
        if (peek().kind == TokenKind::Number)
            literal();
        return {};
    }

    WaitForStmt waitForBody()
    {
        expect(u"DELAY");
        const Token& t = peek();
        if (t.kind != TokenKind::String)
            fail();
        // hh:mm[:ss[.mmm]]
        const QStringList parts = QString::fromStdU16String(t.value).trimmed().split(u':');
        bool ok = parts.size() >= 2 && parts.size() <= 3;
        double seconds = 0;
        for (qsizetype i = 0; ok && i < parts.size(); ++i) {
            const double v = parts[i].toDouble(&ok);
            seconds = seconds * 60 + v;
        }
        if (!ok)
            throw SyntaxError(makeMessage(148, {t.value}, t.line));
        next();
        return WaitForStmt{static_cast<std::int64_t>(seconds * 1000)};
    }

    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
};

} // namespace

std::vector<Statement> parseBatch(std::u16string_view batch) { return Parser(batch).run(); }

} // namespace sandbox::sql
