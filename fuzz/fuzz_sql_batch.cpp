// SQL batches as any logged-in client may send them: the lexer and parser,
// then the engine running them, the results encoded as the session encodes
// them. A fault of each kind lets the fault paths run too; waits return at
// once. The catalog adds databases named with reserved words, one restoring
// and one single-user.
//
// An input is one batch or several (split at NUL) sent one after the other on
// one connection. A first byte below 0x10 picks the generation the server
// answers as (modulo the ten there are); the 7.2 layout goes with 2005 and later.
#include "FuzzSupport.h"

#include "sandbox/sql/Engine.h"
#include "sandbox/sql/Messages.h"
#include "sandbox/sql/Parser.h"
#include "sandbox/tds/Tokens.h"

#include <algorithm>
#include <variant>

namespace {

using namespace sandbox;

// The statements' text ranges lie in the batch, nested ones in their parent's.
void checkRanges(const std::vector<sql::Statement>& statements, std::size_t begin, std::size_t end)
{
    for (const sql::Statement& s : statements) {
        FUZZ_CHECK(begin <= s.begin && s.begin <= s.end && s.end <= end);
        if (const auto* block = std::get_if<sql::BlockStmt>(&s.body))
            checkRanges(block->body, s.begin, s.end);
        if (const auto* ifs = std::get_if<sql::IfStmt>(&s.body)) {
            checkRanges(ifs->then, s.begin, s.end);
            checkRanges(ifs->otherwise, s.begin, s.end);
        }
    }
}

bool fits(const Column& c, const Value& v)
{
    switch (c.type) {
    case SqlType::TinyInt: case SqlType::SmallInt: case SqlType::Int: case SqlType::BigInt:
    case SqlType::Numeric: case SqlType::Bit:
        return std::holds_alternative<std::int64_t>(v);
    case SqlType::NChar: case SqlType::NVarChar: case SqlType::VarChar: case SqlType::NText: case SqlType::Char:
        return std::holds_alternative<std::u16string>(v);
    case SqlType::Float: case SqlType::Real:
        return std::holds_alternative<double>(v);
    case SqlType::Variant:
        return std::holds_alternative<std::int64_t>(v) || std::holds_alternative<std::u16string>(v);
    case SqlType::VarBinary:
        return std::holds_alternative<std::vector<std::uint8_t>>(v);
    case SqlType::DateTime:
        return std::holds_alternative<DateTime>(v);
    }
    return false;
}

// Encodes like the session and checks what the engine promises a sink.
class EncodingSink final : public ResultSink {
public:
    EncodingSink(Generation generation, tds::Layout layout) : generation_(generation), layout_(layout) {}

    void columns(const std::vector<Column>& cols) override
    {
        FUZZ_CHECK(!dropped_);
        columns_ = cols;
        haveColumns_ = true;
        tds::writeColMetadata(tokens_, cols, layout_);
    }
    void row(const Row& values) override
    {
        FUZZ_CHECK(!dropped_ && haveColumns_ && values.size() == columns_.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            FUZZ_CHECK(std::holds_alternative<Null>(values[i]) || fits(columns_[i], values[i]));
        tds::writeRow(tokens_, columns_, values);
    }
    void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) override
    {
        FUZZ_CHECK(!dropped_);
        haveColumns_ = false;
        tds::writeDone(tokens_, kind, status, curCmd, rowCount, layout_);
    }
    void message(const Message& msg) override
    {
        FUZZ_CHECK(!dropped_);
        // The token's 16-bit length field must hold what was written, in
        // either language's wording.
        for (const Language language : {Language::English, Language::SimplifiedChinese}) {
            const std::size_t at = tokens_.size();
            tds::writeMessage(tokens_, localized(msg, generation_, language), u"SANDBOX", layout_);
            FUZZ_CHECK(lengthAt(at + 1) == tokens_.size() - at - 3);
        }
    }
    void databaseChanged(const std::u16string& newName, const std::u16string& oldName) override
    {
        FUZZ_CHECK(!dropped_);
        const std::size_t at = tokens_.size();
        tds::writeEnvChange(tokens_, tds::envchange::Database, newName, oldName);
        FUZZ_CHECK(lengthAt(at + 1) == tokens_.size() - at - 3);
    }
    bool pause(std::chrono::milliseconds) override { return true; }
    void dropConnection() override { dropped_ = true; }
    void transactionChanged(TransactionChange change) override
    {
        FUZZ_CHECK(!dropped_);
        tds::writeTransactionChange(tokens_,
                                    change == TransactionChange::Began       ? tds::envchange::BeginTransaction
                                    : change == TransactionChange::Committed ? tds::envchange::CommitTransaction
                                                                             : tds::envchange::RollbackTransaction,
                                    1);
    }

private:
    std::size_t lengthAt(std::size_t at) const
    {
        return tokens_.bytes()[at] | (static_cast<std::size_t>(tokens_.bytes()[at + 1]) << 8);
    }

    const Generation generation_;
    const tds::Layout layout_;
    tds::TokenBuffer tokens_;
    std::vector<Column> columns_;
    bool haveColumns_ = false;
    bool dropped_ = false;
};

Engine& engine()
{
    static Engine* const e = [] {
        auto* created = new Engine(Catalog::defaults());
        Fault error;
        error.pattern = "fault_error";
        error.error.number = 50001;
        error.error.severity = 16;
        error.error.text = u"Injected.";
        created->addFault(error);
        Fault delay;
        delay.action = Fault::Action::Delay;
        delay.pattern = "fault_delay";
        delay.delay = std::chrono::milliseconds(60000);
        created->addFault(delay);
        Fault drop;
        drop.action = Fault::Action::Drop;
        drop.pattern = "fault_drop";
        created->addFault(drop);
        Fault abort;
        abort.action = Fault::Action::Abort;
        abort.pattern = "fault_abort";
        abort.error.number = 1205;
        abort.error.severity = 13;
        abort.error.text = u"Deadlock victim.";
        created->addFault(abort);
        Fault flood;
        flood.action = Fault::Action::Flood;
        flood.pattern = "fault_flood";
        flood.floodRows = 3;
        flood.floodChars = 4001;  // ntext
        created->addFault(flood);
        return created;
    }();
    return *e;
}

// The defaults, plus names reserved from 2005 and 2008 and the states USE refuses.
Catalog fuzzCatalog()
{
    Catalog c = Catalog::defaults();
    Database merge = c.databases[5];
    merge.dbId = 7;
    merge.name = u"Merge";
    merge.files[1].name = u"Pivot";
    c.databases.push_back(merge);
    Database restoring = c.databases[5];
    restoring.dbId = 8;
    restoring.name = u"Restoring";
    restoring.state = DatabaseState::Restoring;
    c.databases.push_back(restoring);
    Database solo = c.databases[5];
    solo.dbId = 9;
    solo.name = u"Solo";
    solo.status |= Database::SingleUser;
    c.databases.push_back(solo);
    return c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Catalog catalog = fuzzCatalog();
    if (size > 0 && data[0] < 0x10) {
        catalog.generation = static_cast<Generation>(data[0] % (static_cast<int>(Generation::Sql2022) + 1));
        ++data;
        --size;
    }
    const Generation generation = catalog.generation;
    const tds::Layout layout = generation >= Generation::Sql2005 ? tds::Layout::Tds72 : tds::Layout::Tds71;

    // Every input starts from the same catalog and a new connection.
    Engine& e = engine();
    e.setCatalog(std::move(catalog));
    SessionState session;
    const std::u16string text = fuzzsupport::utf16Of(data, size);
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find(u'\0', at), text.size());
        const std::u16string batch = text.substr(at, end - at);
        at = end + 1;
        try {
            checkRanges(sql::parseBatch(batch, generation), 0, batch.size());
        } catch (const sql::SyntaxError&) {
        }
        EncodingSink sink(generation, layout);
        e.runBatch(session, batch, sink);
    }
    e.sessionClosed(session);
    return 0;
}
