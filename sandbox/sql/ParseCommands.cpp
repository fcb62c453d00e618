// The statements other than SELECT: EXEC, BACKUP, DBCC, SET, transactions,
// BEGIN ... END, IF, CHECKPOINT, WAITFOR.
#include "sandbox/sql/ParserCore.h"

#include "sandbox/sql/Messages.h"

#include <QString>
#include <QStringList>

namespace sandbox::sql {

ExecStmt Parser::execBody()
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

BackupLogStmt Parser::backupBody()
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
    if (!peek().is(u"TRUNCATE_ONLY") && !peek().is(u"NO_LOG"))
        fail();
    // Gone from 2008 on: a compile error, so nothing of the batch runs.
    if (!hasTruncateOnly(generation_))
        throw SyntaxError(makeMessage(155, {upper(peek().value), u"BACKUP"}, peek().line));
    b.option = upper(next().value);
    return b;
}

void Parser::backupOptions()
{
    do {
        if (peek().kind != TokenKind::Identifier)
            fail();
        next();
        if (acceptSymbol(u"="))
            literal();
    } while (acceptSymbol(u","));
}

void Parser::dbccBody(Statement& s)
{
    if (peek().kind != TokenKind::Identifier)
        fail();
    const Token& command = next();
    if (command.is(u"SHRINKFILE")) {
        s.body = shrinkFileBody();
        return;
    }
    if (command.is(u"LOGINFO")) {
        s.body = logInfoBody();
        return;
    }
    // SQLPERF's other forms clear statistics the sandbox does not keep.
    const Token& argument = peek(1);
    if (command.is(u"SQLPERF") && peek().isSymbol(u"(") && peek(2).isSymbol(u")")
        && (argument.is(u"LOGSPACE") || (argument.kind == TokenKind::String && upper(argument.value) == u"LOGSPACE"))) {
        next();
        next();
        next();
        s.body = DbccSqlPerfStmt{dbccWith()};
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

bool Parser::dbccWith()
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

ShrinkFileStmt Parser::shrinkFileBody()
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

DbccLogInfoStmt Parser::logInfoBody()
{
    DbccLogInfoStmt s;
    if (acceptSymbol(u"(")) {
        const Token& db = peek();
        if (db.kind == TokenKind::String || db.kind == TokenKind::Number) {
            s.database = literal();
        } else {
            Literal name;
            name.kind = Literal::Kind::String;
            name.text = this->name();
            s.database = name;
        }
        expectSymbol(u")");
    }
    s.noInfoMessages = dbccWith();
    return s;
}

SetStmt Parser::setBody()
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
        // TEXTSIZE and ROWCOUNT are reserved words and SET options both.
        if (peek().kind != TokenKind::Identifier
            || (peek().isReserved() && !peek().is(u"TEXTSIZE") && !peek().is(u"ROWCOUNT")))
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

void Parser::skipTranName()
{
    if (isNameStart(peek()) || (peek().kind == TokenKind::Variable && peek().value.rfind(u"@@", 0) != 0))
        next();
}

void Parser::beginBody(Statement& s)
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

TranStmt Parser::tranEnd(TranStmt::Kind kind)
{
    if (accept(u"TRAN") || accept(u"TRANSACTION"))
        skipTranName();
    else
        accept(u"WORK");
    return TranStmt{kind};
}

IfStmt Parser::ifBody()
{
    IfStmt s;
    s.left = expression(false);
    if (!isComparison(peek()))
        fail();
    s.op = next().value;
    s.right = expression(false);
    s.then.push_back(statement());
    skipSemicolons();
    if (accept(u"ELSE"))
        s.otherwise.push_back(statement());
    return s;
}

CheckpointStmt Parser::checkpointBody()
{
    if (peek().kind == TokenKind::Number)
        literal();
    return {};
}

WaitForStmt Parser::waitForBody()
{
    expect(u"DELAY");
    const Token& t = peek();
    if (t.kind != TokenKind::String)
        fail();
    // hh:mm[:ss[.mmm]], each part in its clock range, so a delay is at most a day.
    const QStringList parts = QString::fromStdU16String(t.value).trimmed().split(u':');
    bool ok = parts.size() >= 2 && parts.size() <= 3;
    double seconds = 0;
    for (qsizetype i = 0; ok && i < parts.size(); ++i) {
        const double v = parts[i].toDouble(&ok);
        ok = ok && v >= 0 && v < (i == 0 ? 24 : 60);  // also refuses nan and inf
        seconds = seconds * 60 + v;
    }
    if (!ok)
        throw SyntaxError(makeMessage(148, {t.value}, t.line));
    next();
    return WaitForStmt{static_cast<std::int64_t>(seconds * 1000)};
}

} // namespace sandbox::sql
