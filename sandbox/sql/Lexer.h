// Splits a T-SQL batch into tokens: identifiers (plain, [bracketed], "quoted"),
// strings ('..' and N'..'), numbers, variables (@x, @@x) and symbols.
#pragma once

#include "sandbox/sql/Generation.h"
#include "sandbox/sql/Result.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox::sql {

enum class TokenKind { Identifier, QuotedIdentifier, String, Number, Variable, Symbol, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::u16string value;      // unquoted identifier, string content, number digits, symbol
    bool national = false;     // N'...'
    bool reserved = false;     // a plain identifier that is a reserved keyword of the batch's generation
    std::size_t begin = 0;     // offsets into the batch
    std::size_t end = 0;
    std::uint16_t line = 1;

    // A plain (unquoted) identifier spelling `word`, any case.
    bool is(std::u16string_view word) const;
    bool isSymbol(std::u16string_view symbol) const { return kind == TokenKind::Symbol && value == symbol; }
    // Unquoted reserved word of T-SQL: SQL Server reports it with 156.
    bool isReserved() const { return kind == TokenKind::Identifier && reserved; }
};

// A batch the lexer or parser refuses: the message SQL Server would send.
class SyntaxError : public std::runtime_error {
public:
    explicit SyntaxError(Message m) : std::runtime_error("syntax error"), message_(std::move(m)) {}
    const Message& message() const { return message_; }

private:
    Message message_;
};

// The tokens of `batch`, ending with one End token, identifiers marked with
// whether generation `g` reserves them. Throws SyntaxError for an unclosed
// string, bracket or comment.
std::vector<Token> tokenize(std::u16string_view batch, Generation g);


} // namespace sandbox::sql
