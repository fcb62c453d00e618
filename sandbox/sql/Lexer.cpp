#include "sandbox/sql/Lexer.h"

#include "sandbox/sql/Messages.h"
#include "sandbox/sql/Names.h"
#include "sandbox/sql/Reserved.h"

#include <QChar>
#include <QString>

namespace sandbox::sql {

namespace {

bool isIdentStart(char16_t c)
{
    return c == u'_' || c == u'#' || QChar(c).isLetter() || QChar::isHighSurrogate(c);
}

bool isIdentPart(char16_t c)
{
    return isIdentStart(c) || c == u'@' || c == u'$' || QChar(c).isDigit() || QChar::isLowSurrogate(c)
        || QChar(c).isMark();
}

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v' || c == 0xA0
        || c == 0x3000 || c == 0xFEFF || c == 0;
}

class Lexer {
public:
    Lexer(std::u16string_view text, Generation generation) : text_(text), generation_(generation) {}

    std::vector<Token> run()
    {
        std::vector<Token> tokens;
        for (;;) {
            skipBlanks();
            Token t;
            t.begin = pos_;
            t.line = line_;
            if (pos_ >= text_.size()) {
                t.kind = TokenKind::End;
                t.end = pos_;
                tokens.push_back(std::move(t));
                return tokens;
            }
            lexOne(t);
            t.end = pos_;
            tokens.push_back(std::move(t));
        }
    }

private:
    char16_t at(std::size_t i) const { return i < text_.size() ? text_[i] : char16_t(0); }

    void advance()
    {
        if (text_[pos_] == u'\n')
            ++line_;
        ++pos_;
    }

    void skipBlanks()
    {
        while (pos_ < text_.size()) {
            const char16_t c = text_[pos_];
            if (isSpace(c)) {
                advance();
            } else if (c == u'-' && at(pos_ + 1) == u'-') {
                while (pos_ < text_.size() && text_[pos_] != u'\n')
                    advance();
            } else if (c == u'/' && at(pos_ + 1) == u'*') {
                skipBlockComment();
            } else {
                return;
            }
        }
    }

    // T-SQL block comments nest.
    void skipBlockComment()
    {
        const std::uint16_t startLine = line_;
        int depth = 0;
        while (pos_ < text_.size()) {
            if (text_[pos_] == u'/' && at(pos_ + 1) == u'*') {
                ++depth;
                pos_ += 2;
            } else if (text_[pos_] == u'*' && at(pos_ + 1) == u'/') {
                pos_ += 2;
                if (--depth == 0)
                    return;
            } else {
                advance();
            }
        }
        throw SyntaxError(makeMessage(113, {}, startLine));
    }

    // Reads up to the closing `close`; a doubled `close` stands for one.
    std::u16string quoted(char16_t close)
    {
        const std::uint16_t startLine = line_;
        std::u16string value;
        advance(); // the opening quote
        while (pos_ < text_.size()) {
            const char16_t c = text_[pos_];
            if (c == close) {
                if (at(pos_ + 1) == close) {
                    value += close;
                    pos_ += 2;
                    continue;
                }
                advance();
                return value;
            }
            value += c;
            advance();
        }
        throw SyntaxError(makeMessage(105, {value}, startLine));
    }

    void lexOne(Token& t)
    {
        const char16_t c = text_[pos_];
        if ((c == u'N' || c == u'n') && at(pos_ + 1) == u'\'') {
            advance();
            t.kind = TokenKind::String;
            t.national = true;
            t.value = quoted(u'\'');
        } else if (c == u'\'') {
            t.kind = TokenKind::String;
            t.value = quoted(u'\'');
        } else if (c == u'[') {
            t.kind = TokenKind::QuotedIdentifier;
            t.value = quoted(u']');
        } else if (c == u'"') {
            t.kind = TokenKind::QuotedIdentifier;
            t.value = quoted(u'"');
        } else if (c == u'@') {
            t.kind = TokenKind::Variable;
            while (at(pos_) == u'@')
                t.value += text_[pos_++];
            while (pos_ < text_.size() && isIdentPart(text_[pos_]))
                t.value += text_[pos_++];
        } else if (QChar(c).isDigit() && c < 0x80) {
            t.kind = TokenKind::Number;
            if (c == u'0' && (at(pos_ + 1) == u'x' || at(pos_ + 1) == u'X')) {
                t.value += text_[pos_++];
                t.value += text_[pos_++];
                while (QChar(at(pos_)).isLetterOrNumber() && at(pos_) < 0x80)
                    t.value += text_[pos_++];
            } else {
                while ((QChar(at(pos_)).isDigit() && at(pos_) < 0x80) || at(pos_) == u'.')
                    t.value += text_[pos_++];
            }
        } else if (isIdentStart(c)) {
            t.kind = TokenKind::Identifier;
            while (pos_ < text_.size() && isIdentPart(text_[pos_]))
                t.value += text_[pos_++];
            t.reserved = isReservedWord(t.value, generation_);
        } else {
            t.kind = TokenKind::Symbol;
            static constexpr std::u16string_view TwoChar[] = {u"<>", u"!=", u"<=", u">=", u"!<", u"!>"};
            for (std::u16string_view two : TwoChar) {
                if (text_.substr(pos_, 2) == two) {
                    t.value = two;
                    pos_ += 2;
                    return;
                }
            }
            t.value = std::u16string(1, c);
            advance();
        }
    }

    std::u16string_view text_;
    Generation generation_;
    std::size_t pos_ = 0;
    std::uint16_t line_ = 1;
};

} // namespace

bool Token::is(std::u16string_view word) const
{
    return kind == TokenKind::Identifier && equalsIgnoreCase(value, word);
}

std::vector<Token> tokenize(std::u16string_view batch, Generation g) { return Lexer(batch, g).run(); }

} // namespace sandbox::sql
