#include "Session.h"

#include "TdsLogin.h"
#include "TdsRpc.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace sandbox {

namespace {

constexpr std::u16string_view ProgramName = u"Microsoft SQL Server";
constexpr std::u16string_view Language = u"us_english";
constexpr std::u16string_view LoginName = u"sa";

std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
           | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
               return lower(x) == lower(y);
           });
}

// Clients from TDS 7.2 on put ALL_HEADERS before the batch text; a 7.1 client
// does not. The headers are recognised by their self-consistent lengths, which
// ordinary UCS-2 text never has.
std::size_t allHeadersLength(std::span<const std::uint8_t> p)
{
    if (p.size() < 4)
        return 0;
    const std::uint32_t total = le32(p.data());
    if (total < 4 + 6 || total > p.size())
        return 0;
    std::size_t at = 4;
    while (at < total) {
        if (at + 6 > total)
            return 0;
        const std::uint32_t length = le32(p.data() + at);
        const auto type = static_cast<std::uint16_t>(p[at + 4] | (p[at + 5] << 8));
        if (length < 6 || length > total - at || type == 0 || type > 3)
            return 0;
        at += length;
    }
    return total;
}

std::u16string decimal(std::int64_t n)
{
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

Message makeMessage(std::int32_t number, std::uint8_t severity, std::uint8_t state, std::u16string text)
{
    Message m;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = std::move(text);
    return m;
}

} // namespace

// Encodes the engine's results as tokens and streams them out in full
// packets while the batch runs; the last packet goes out when it ends.
class Session::BatchSink final : public ResultSink {
public:
    // In a procedure call the statements' DONEs become DONEINPROC and the
    // reply ends with the return status, output parameters and DONEPROC.
    BatchSink(Session& session, bool inProcedure) : session_(session), inProcedure_(inProcedure) {}

    void returnValue(std::uint16_t ordinal, std::u16string name, std::optional<std::int32_t> value)
    {
        returnValues_.push_back({ordinal, std::move(name), value});
    }

    void columns(const std::vector<Column>& cols) override
    {
        if (!live())
            return;
        writePendingDone();
        columns_ = cols;
        if (!cols.empty())
            tds::writeColMetadata(tokens_, columns_);
        sendFullPackets();
    }

    void row(const Row& values) override
    {
        if (!live())
            return;
        writePendingDone();
        tds::writeRow(tokens_, columns_, values);
        sendFullPackets();
    }

    void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) override
    {
        if (!live())
            return;
        writePendingDone();
        // MORE and ATTN are ours to set: MORE is known only when the next token comes.
        const auto ours = static_cast<std::uint16_t>(tds::donebits::More | tds::donebits::Attention);
        if (inProcedure_ && kind == DoneKind::Done)
            kind = DoneKind::DoneInProc;
        pending_ = PendingDone{kind, static_cast<std::uint16_t>(status & ~ours), curCmd, rowCount};
        errorSinceDone_ = false;
    }

    void message(const Message& msg) override
    {
        if (!live())
            return;
        writePendingDone();
        tds::writeMessage(tokens_, msg, session_.host_.serverName());
        if (msg.severity > 10) {
            errorSinceDone_ = true;
            anyError_ = true;
        }
        sendFullPackets();
    }

    void databaseChanged(const std::u16string& newName, const std::u16string& oldName) override
    {
        if (!live())
            return;
        writePendingDone();
        tds::writeEnvChange(tokens_, tds::envchange::Database, newName, oldName);
        sendFullPackets();
    }

    bool pause(std::chrono::milliseconds delay) override
    {
        if (!live())
            return false;
        const auto deadline = std::chrono::steady_clock::now() + delay;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return true;
            switch (session_.connection_.waitReadable(left + std::chrono::milliseconds(1))) {
            case Wait::Timeout:
                continue;  // re-check the clock; poll may wake a little early
            case Wait::Stopped:
            case Wait::Closed:
                broken_ = true;
                return false;
            case Wait::Ready:
                break;
            }
            // Mid-batch the only thing a client may send is a cancel.
            tds::PacketHeader header;
            std::vector<std::uint8_t> body;
            if (session_.reader_.readPacket(header, body) != tds::ReadStatus::Ok
                || header.type != tds::packet::Attention) {
                broken_ = true;
                return false;
            }
            attention_ = true;
            return false;
        }
    }

    void dropConnection() override
    {
        dropped_ = true;
        session_.connection_.close();
    }

    void internalError(const std::exception* e)
    {
        std::u16string text = u"The sandbox engine failed";
        if (e != nullptr) {
            text += u": ";
            for (const char* c = e->what(); *c != 0; ++c)
                text.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
        }
        message(makeMessage(50000, 16, 1, text));
    }

    // Ends the reply. false when the connection is gone or must close.
    bool finish()
    {
        if (!live())
            return false;
        if (attention_) {
            writePendingDone();
            tds::writeDone(tokens_, DoneKind::Done, tds::donebits::Attention, 0, 0);
        } else if (inProcedure_) {
            writePendingDone();
            tds::writeReturnStatus(tokens_, 0);
            for (const ReturnValue& v : returnValues_)
                tds::writeReturnValue(tokens_, v.ordinal, v.name, v.value);
            tds::writeDone(tokens_, DoneKind::DoneProc, anyError_ ? done::Error : 0, 0, 0);
        } else if (pending_ && pending_->kind != DoneKind::DoneInProc) {
            writeDone(*pending_, false);
            pending_.reset();
        } else {
            // The engine ended without a closing DONE: the client needs one.
            writePendingDone();
            tds::writeDone(tokens_, DoneKind::Done, errorSinceDone_ ? done::Error : 0, 0, 0);
        }
        return session_.sendPackets(tokens_.bytes(), true);
    }

private:
    struct ReturnValue {
        std::uint16_t ordinal;
        std::u16string name;
        std::optional<std::int32_t> value;
    };
    struct PendingDone {
        DoneKind kind;
        std::uint16_t status;
        std::uint16_t curCmd;
        std::uint64_t rowCount;
    };

    bool live() const { return !dropped_ && !broken_; }

    void writeDone(const PendingDone& d, bool more)
    {
        const auto status = static_cast<std::uint16_t>(d.status | (more ? tds::donebits::More : 0));
        tds::writeDone(tokens_, d.kind, status, d.curCmd, d.rowCount);
    }

    void writePendingDone()
    {
        if (pending_) {
            writeDone(*pending_, true);
            pending_.reset();
        }
    }

    // Sends every full packet but keeps at least one byte back, so the
    // message's last packet (with EOM) always has something in it.
    void sendFullPackets()
    {
        const std::size_t chunk = session_.writer_.payloadPerPacket();
        if (tokens_.size() <= chunk)
            return;
        const std::size_t n = ((tokens_.size() - 1) / chunk) * chunk;
        auto& bytes = tokens_.bytes();
        if (!session_.sendPackets(std::span(bytes.data(), n), false)) {
            broken_ = true;
            return;
        }
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    }

    Session& session_;
    const bool inProcedure_;
    std::vector<ReturnValue> returnValues_;
    bool anyError_ = false;
    tds::TokenBuffer tokens_;
    std::vector<Column> columns_;
    std::optional<PendingDone> pending_;
    bool errorSinceDone_ = false;
    bool attention_ = false;
    bool dropped_ = false;
    bool broken_ = false;
};

Session::Session(Fd socket, std::uint16_t spid, SessionHost& host, const StopSignal& stop)
    : connection_(std::move(socket), stop), reader_(connection_), host_(host)
{
    state_.spid = spid;
    writer_.setSpid(spid);
}

Session::~Session()
{
    try {
        host_.engine().sessionClosed(state_);
    } catch (...) {
        // The session is gone either way; nothing useful to report to.
    }
}

void Session::run()
{
    try {
        if (!handshake())
            return;
        for (;;) {
            tds::Request request;
            if (reader_.readRequest(request) != tds::ReadStatus::Ok)
                return;
            bool keep = false;
            switch (request.type) {
            case tds::packet::SqlBatch:
                keep = serveBatch(request);
                break;
            case tds::packet::Attention:
                // The cancel raced the end of the batch: acknowledge it anyway.
                keep = answerAttention();
                break;
            case tds::packet::Rpc:
                keep = serveRpc(request);
                break;
            case tds::packet::TransactionManager:
            case tds::packet::BulkLoad: {
                tds::TokenBuffer tokens;
                tds::writeMessage(tokens,
                                  makeMessage(50000, 16, 1,
                                              u"The sandbox runs SQL batches and procedure calls only; this request type is not supported."),
                                  host_.serverName());
                tds::writeDone(tokens, DoneKind::Done, done::Error, 0, 0);
                keep = sendReply(tokens);
                break;
            }
            default:
                keep = false;  // a second login or garbage: not a client we can talk to
                break;
            }
            if (!keep)
                return;
        }
    } catch (...) {
        // Out of memory or similar: end this connection, keep the server.
    }
}

bool Session::handshake()
{
    tds::Request request;
    if (reader_.readRequest(request) != tds::ReadStatus::Ok)
        return false;
    if (request.type == tds::packet::Prelogin) {
        const auto prelogin = tds::parsePrelogin(request.payload);
        if (!prelogin)
            return false;
        const std::vector<std::uint8_t> reply = tds::preloginReply(*prelogin);
        if (!sendPackets(reply, true))
            return false;
        if (reader_.readRequest(request) != tds::ReadStatus::Ok)
            return false;
    }
    // TDS 7.0 clients log in without a PRELOGIN; anything else is not TDS 7.
    if (request.type != tds::packet::Login7)
        return false;
    return login(request);
}

bool Session::login(const tds::Request& request)
{
    const auto login = tds::parseLogin7(request.payload);
    if (!login)
        return false;
    writer_.setPacketSize(login->packetSize == 0 ? tds::DefaultPacketSize : login->packetSize);

    if (host_.refuseLogins() || login->integratedSecurity || !equalsIgnoringCase(login->userName, LoginName)
        || login->password != host_.password())
        return rejectLogin(*login, nullptr);

    Engine& engine = host_.engine();
    const std::u16string requested = login->database.empty() ? u"master" : login->database;
    std::optional<std::u16string> database = engine.findDatabase(requested);
    if (database) {
        const Catalog catalog = engine.catalog();
        if (const Database* d = catalog.find(*database); d != nullptr && d->offline)
            database.reset();
    }
    if (!database) {
        const Message cannotOpen = makeMessage(
            4060, 11, 1, u"Cannot open database requested in login '" + requested + u"'. Login fails.");
        return rejectLogin(*login, &cannotOpen);
    }
    state_.database = *database;

    tds::TokenBuffer tokens;
    tds::writeEnvChange(tokens, tds::envchange::Database, *database, u"master");
    tds::writeMessage(tokens, makeMessage(5701, 10, 2, u"Changed database context to '" + *database + u"'."),
                      host_.serverName());
    tds::writeCollationChange(tokens, tds::DefaultCollation);
    tds::writeEnvChange(tokens, tds::envchange::Language, Language, u"");
    tds::writeMessage(tokens,
                      makeMessage(5703, 10, 1, u"Changed language setting to " + std::u16string(Language) + u"."),
                      host_.serverName());
    tds::writeLoginAck(tokens, ProgramName);
    const std::u16string size16 = decimal(static_cast<std::int64_t>(writer_.packetSize()));
    tds::writeEnvChange(tokens, tds::envchange::PacketSize, size16, size16);
    tds::writeDone(tokens, DoneKind::Done, 0, 0, 0);
    return sendReply(tokens);
}

bool Session::rejectLogin(const tds::Login7& login, const Message* first)
{
    // No version has been agreed without a LOGINACK, so the client reads these
    // tokens in the layout of the version it asked for.
    const auto layout = (login.tdsVersion >> 24) >= 0x72 && (login.tdsVersion >> 24) <= 0x7F ? tds::Layout::Tds72
                                                                                               : tds::Layout::Tds71;
    tds::TokenBuffer tokens;
    if (first != nullptr)
        tds::writeMessage(tokens, *first, host_.serverName(), layout);
    tds::writeMessage(tokens, makeMessage(18456, 14, 1, u"Login failed for user '" + login.userName + u"'."),
                      host_.serverName(), layout);
    tds::writeDone(tokens, DoneKind::Done, done::Error, 0, 0, layout);
    sendReply(tokens);
    return false;  // SQL Server hangs up after a failed login
}

bool Session::serveBatch(const tds::Request& request)
{
    std::span<const std::uint8_t> payload(request.payload);
    payload = payload.subspan(allHeadersLength(payload));
    if (payload.size() % 2 != 0)
        return false;
    std::u16string text(payload.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(payload[2 * i] | (payload[2 * i + 1] << 8));
    BatchSink sink(*this, false);
    runSql(text, sink);
    return sink.finish();
}

void Session::runSql(const std::u16string& text, BatchSink& sink)
{
    host_.recordBatch(state_.spid, text);
    try {
        host_.engine().runBatch(state_, text, sink);
    } catch (const std::exception& e) {
        sink.internalError(&e);
    } catch (...) {
        sink.internalError(nullptr);
    }
}

bool Session::serveRpc(const tds::Request& request)
{
    std::span<const std::uint8_t> payload(request.payload);
    payload = payload.subspan(allHeadersLength(payload));
    BatchSink sink(*this, true);
    const auto rpc = tds::parseRpc(payload);
    if (!rpc) {
        sink.message(makeMessage(50000, 16, 1, u"The sandbox cannot read this procedure call."));
        return sink.finish();
    }
    const auto& params = rpc->params;
    auto unsupported = [&](std::u16string what) {
        sink.message(makeMessage(50000, 16, 1, u"The sandbox does not support " + std::move(what) + u"."));
        return sink.finish();
    };
    auto textAt = [&](std::size_t i) -> std::optional<std::u16string> {
        return i < params.size() ? params[i].text : std::nullopt;
    };

    std::u16string name = rpc->procName;
    // Drivers name the system procedures with or without their owner.
    for (const std::u16string_view prefix : {u"master..", u"master.dbo.", u"dbo.", u"sys."})
        if (name.size() > prefix.size() && equalsIgnoringCase(std::u16string_view(name).substr(0, prefix.size()), prefix))
            name.erase(0, prefix.size());
    std::uint16_t id = rpc->procId;
    if (id == 0) {
        const std::pair<std::u16string_view, std::uint16_t> known[] = {
            {u"sp_executesql", tds::procid::ExecuteSql}, {u"sp_prepare", tds::procid::Prepare},
            {u"sp_execute", tds::procid::Execute},       {u"sp_prepexec", tds::procid::PrepExec},
            {u"sp_unprepare", tds::procid::Unprepare},
        };
        for (const auto& [procName, procId] : known)
            if (equalsIgnoringCase(name, procName))
                id = procId;
    }

    switch (id) {
    case tds::procid::ExecuteSql: {
        const auto text = textAt(0);
        if (!text)
            return unsupported(u"sp_executesql without a statement");
        if (params.size() > 2)
            return unsupported(u"statement parameters");
        runSql(*text, sink);
        return sink.finish();
    }
    case tds::procid::Prepare:
    case tds::procid::PrepExec: {
        const auto text = textAt(2);
        if (!text || params.empty())
            return unsupported(u"this form of prepared statement");
        if (params.size() > (id == tds::procid::Prepare ? 4u : 3u))
            return unsupported(u"statement parameters");
        const std::int32_t handle = nextHandle_++;
        prepared_[handle] = *text;
        sink.returnValue(0, params[0].name, handle);
        if (id == tds::procid::PrepExec)
            runSql(*text, sink);
        return sink.finish();
    }
    case tds::procid::Execute: {
        if (params.empty() || !params[0].integer)
            return unsupported(u"sp_execute without a handle");
        if (params.size() > 1)
            return unsupported(u"statement parameters");
        const auto handle = static_cast<std::int32_t>(*params[0].integer);
        const auto found = prepared_.find(handle);
        if (found == prepared_.end()) {
            sink.message(makeMessage(
                8179, 16, 1, u"Could not find prepared statement with handle " + decimal(handle) + u"."));
            return sink.finish();
        }
        const std::u16string text = found->second;
        runSql(text, sink);
        return sink.finish();
    }
    case tds::procid::Unprepare:
        if (!params.empty() && params[0].integer)
            prepared_.erase(static_cast<std::int32_t>(*params[0].integer));
        return sink.finish();
    default:
        break;
    }
    if (name.empty())
        return unsupported(u"this system procedure id");

    // Any other procedure runs as the EXEC statement the call stands for.
    std::u16string text = u"EXEC " + rpc->procName;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const tds::RpcParam& p = params[i];
        if (p.output() || !p.usable())
            return unsupported(u"output parameters or parameters of this type");
        text += i == 0 ? u" " : u", ";
        if (!p.name.empty())
            text += p.name + u" = ";
        if (p.isNull) {
            text += u"NULL";
        } else if (p.integer) {
            text += decimal(*p.integer);
        } else {
            text += u"N'";
            for (char16_t c : *p.text) {
                text.push_back(c);
                if (c == u'\'')
                    text.push_back(c);
            }
            text += u"'";
        }
    }
    runSql(text, sink);
    return sink.finish();
}

bool Session::answerAttention()
{
    tds::TokenBuffer tokens;
    tds::writeDone(tokens, DoneKind::Done, tds::donebits::Attention, 0, 0);
    return sendReply(tokens);
}

bool Session::sendReply(tds::TokenBuffer& tokens)
{
    return sendPackets(tokens.bytes(), true);
}

bool Session::sendPackets(std::span<const std::uint8_t> payload, bool endOfMessage)
{
    const std::vector<std::uint8_t> framed = writer_.frame(tds::packet::Reply, payload, endOfMessage);
    return connection_.writeAll(framed.data(), framed.size());
}

} // namespace sandbox
