#include "sandbox/net/Session.h"

#include "sandbox/net/BatchSink.h"
#include "sandbox/sql/Names.h"
#include "sandbox/sql/Messages.h"
#include "sandbox/tds/Batch.h"
#include "sandbox/tds/Rpc.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>

namespace sandbox {

namespace {

constexpr std::u16string_view ProgramName = u"Microsoft SQL Server";
constexpr std::u16string_view LoginName = u"sa";

Message withState(Message m, std::uint8_t state)
{
    m.state = state;
    return m;
}

std::array<std::uint8_t, 4> programVersion(Generation g)
{
    const GenerationInfo& i = generationInfo(g);
    return {i.major, i.minor, static_cast<std::uint8_t>(i.build >> 8), static_cast<std::uint8_t>(i.build & 0xFF)};
}

// A 7.1 login gets 7.1 from every generation; a 7.2 or later one the lower
// of its own version and the generation's. 2000 speaks 7.1 only.
std::uint32_t agreedVersion(std::uint32_t asked, Generation g)
{
    if (tds::layoutOf(asked) != tds::Layout::Tds72 || g == Generation::Sql2000)
        return tds::Version71;
    return std::min(asked, generationInfo(g).tdsVersion);
}

} // namespace

Session::Session(Fd socket, std::uint16_t spid, SessionHost& host, const StopSignal& stop)
    : wire_(std::move(socket), stop), host_(host)
{
    state_.spid = spid;
    wire_.writer().setSpid(spid);
    speech_.serverName = host.serverName();
    speech_.generation = host.engine().generation();
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
            if (wire_.readRequest(request) != tds::ReadStatus::Ok)
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
            case tds::packet::BulkLoad:
                keep = refuseRequest();
                break;
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
    if (wire_.readRequest(request) != tds::ReadStatus::Ok)
        return false;
    tds::TlsUse tls = tds::TlsUse::None;
    if (request.type == tds::packet::Prelogin) {
        const auto prelogin = tds::parsePrelogin(request.payload);
        if (!prelogin)
            return false;
        const std::shared_ptr<const TlsContext> tlsContext = host_.tls();
        const tds::EncryptionAgreement agreed =
            tds::agreeEncryption(prelogin->encryption, tlsContext != nullptr, host_.forceEncryption());
        const std::vector<std::uint8_t> reply =
            tds::preloginReply(*prelogin, programVersion(speech_.generation), agreed.answer);
        if (!wire_.send(reply, true) || agreed.use == tds::TlsUse::Refuse)
            return false;
        tls = agreed.use;
        if (tls != tds::TlsUse::None && !startTls(*tlsContext))
            return false;
        if (wire_.readRequest(request) != tds::ReadStatus::Ok)
            return false;
    }
    // TDS 7.0 clients log in without a PRELOGIN; anything else is not TDS 7.
    if (request.type != tds::packet::Login7)
        return false;
    if (tls == tds::TlsUse::LoginOnly)
        wire_.stopTls();  // ENCRYPT_OFF: the login was the one packet to protect
    return login(request);
}

// The TLS handshake, carried in PRELOGIN packets both ways until it is done.
bool Session::startTls(const TlsContext& tlsContext)
{
    auto channel = std::make_unique<TlsChannel>(tlsContext, wire_.connection());
    while (!channel->established()) {
        tds::Request flight;
        if (wire_.readRequest(flight) != tds::ReadStatus::Ok || flight.type != tds::packet::Prelogin)
            return false;
        const auto answer = channel->handshake(flight.payload);
        if (!answer || (!answer->empty() && !wire_.sendHandshake(*answer)))
            return false;
    }
    wire_.startTls(std::move(channel));
    return true;
}

bool Session::login(const tds::Request& request)
{
    const auto login = tds::parseLogin7(request.payload);
    if (!login)
        return false;
    wire_.writer().setPacketSize(login->packetSize == 0 ? tds::DefaultPacketSize : login->packetSize);
    // The language the login's record names, else sa's default, the
    // server's; a refusal is worded in it too (not confirmed for a record
    // that names another language than the server's).
    state_.language = sessionLanguage(login->language, host_.engine().language());
    speech_.language = state_.language;

    if (host_.refuseLogins() || login->integratedSecurity || !equalsIgnoreCase(login->userName, LoginName)
        || login->password != host_.password())
        return rejectLogin(*login, nullptr);

    const std::u16string requested = login->database.empty() ? u"master" : login->database;
    // The session is in its database from here on (the engine keeps count for
    // single-user databases).
    const std::optional<std::u16string> database = host_.engine().loginDatabase(state_, requested);
    if (!database) {
        const Message cannotOpen = makeMessage(4060, {requested});
        return rejectLogin(*login, &cannotOpen);
    }
    const std::uint32_t version = agreedVersion(login->tdsVersion, speech_.generation);
    speech_.layout = tds::layoutOf(version);

    // From here on every token is in the layout of the version agreed.
    tds::TokenBuffer tokens;
    tds::writeEnvChange(tokens, tds::envchange::Database, *database, u"master");
    writeMessage(tokens, withState(makeMessage(5701, {*database}), 2));
    tds::writeCollationChange(tokens, tds::DefaultCollation);
    const std::u16string_view language = languageInfo(state_.language).name;
    tds::writeEnvChange(tokens, tds::envchange::Language, language, u"");
    writeMessage(tokens, makeMessage(5703, {language}));
    tds::writeLoginAck(tokens, ProgramName, version, programVersion(speech_.generation));
    if (login->featureExtension && version >= tds::Version74)
        tds::writeFeatureExtAck(tokens);
    const std::u16string size16 = toU16(static_cast<long long>(wire_.writer().packetSize()));
    tds::writeEnvChange(tokens, tds::envchange::PacketSize, size16, size16);
    tds::writeDone(tokens, DoneKind::Done, 0, 0, 0, speech_.layout);
    return sendReply(tokens);
}

bool Session::rejectLogin(const tds::Login7& login, const Message* first)
{
    // No version has been agreed without a LOGINACK, so the client reads these
    // tokens in the layout of the version it asked for.
    speech_.layout = tds::layoutOf(login.tdsVersion);
    tds::TokenBuffer tokens;
    if (first != nullptr)
        writeMessage(tokens, *first);
    writeMessage(tokens, makeMessage(18456, {login.userName}));
    tds::writeDone(tokens, DoneKind::Done, done::Error, 0, 0, speech_.layout);
    sendReply(tokens);
    return false;  // SQL Server hangs up after a failed login
}

bool Session::serveBatch(const tds::Request& request)
{
    const std::optional<std::u16string> text = tds::batchText(request.payload);
    if (!text)
        return false;
    BatchSink sink(wire_, speech_, false);
    runSql(*text, sink);
    return sink.finish();
}

bool Session::serveRpc(const tds::Request& request)
{
    std::span<const std::uint8_t> payload(request.payload);
    payload = payload.subspan(tds::allHeadersLength(payload));
    BatchSink sink(wire_, speech_, true);
    const auto call = tds::parseRpc(payload, speech_.layout);
    if (!call) {
        sink.message(makeMessage(50000, {u"The sandbox cannot read this procedure call."}));
        return sink.finish();
    }
    const ProcedurePlan plan = procedures_.plan(*call);
    if (plan.refusal)
        sink.message(*plan.refusal);
    if (plan.handleName)
        sink.returnValue(0, *plan.handleName, plan.handle);
    if (plan.sql)
        runSql(*plan.sql, sink);
    return sink.finish();
}

bool Session::refuseRequest()
{
    tds::TokenBuffer tokens;
    writeMessage(tokens, makeMessage(50000, {u"The sandbox runs SQL batches and procedure calls only; "
                                             u"this request type is not supported."}));
    tds::writeDone(tokens, DoneKind::Done, done::Error, 0, 0, speech_.layout);
    return sendReply(tokens);
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

bool Session::answerAttention()
{
    tds::TokenBuffer tokens;
    tds::writeDone(tokens, DoneKind::Done, tds::donebits::Attention, 0, 0, speech_.layout);
    return sendReply(tokens);
}

void Session::writeMessage(tds::TokenBuffer& tokens, const Message& message)
{
    tds::writeMessage(tokens, localized(message, speech_.generation, speech_.language), speech_.serverName, speech_.layout);
}

bool Session::sendReply(tds::TokenBuffer& tokens) { return wire_.send(tokens.bytes(), true); }

} // namespace sandbox
