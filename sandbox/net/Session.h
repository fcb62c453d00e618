// One client connection: PRELOGIN, LOGIN7, then SQL batches and procedure
// calls until the client leaves, the server stops, or a fault drops it.
#pragma once

#include "sandbox/net/BatchSink.h"
#include "sandbox/net/Procedures.h"
#include "sandbox/net/Wire.h"
#include "sandbox/sql/Engine.h"
#include "sandbox/tds/Login.h"
#include "sandbox/tds/Tokens.h"

#include <cstdint>
#include <string>

namespace sandbox {

// What a session needs from the server that owns it.
class SessionHost {
public:
    virtual Engine& engine() = 0;
    virtual const std::u16string& serverName() const = 0;
    virtual const std::u16string& password() const = 0;
    virtual bool refuseLogins() const = 0;
    // What a session may encrypt with (none: it cannot), and whether it must.
    virtual std::shared_ptr<const TlsContext> tls() = 0;
    virtual bool forceEncryption() const = 0;
    virtual void recordBatch(std::uint16_t spid, const std::u16string& text) = 0;

protected:
    ~SessionHost() = default;
};

class Session {
public:
    Session(Fd socket, std::uint16_t spid, SessionHost& host, const StopSignal& stop);
    ~Session();  // tells the engine the session went away
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Serves the connection until it ends; never throws.
    void run();

private:
    bool handshake();
    bool startTls(const TlsContext& tls);
    bool login(const tds::Request& request);
    bool rejectLogin(const tds::Login7& login, const Message* first);
    bool serveBatch(const tds::Request& request);
    bool serveRpc(const tds::Request& request);
    bool refuseRequest();
    void runSql(const std::u16string& text, BatchSink& sink);
    bool answerAttention();
    bool sendReply(tds::TokenBuffer& tokens);
    void writeMessage(tds::TokenBuffer& tokens, const Message& message);

    Wire wire_;
    SessionHost& host_;
    SessionState state_;
    Speech speech_;
    Procedures procedures_;
};

} // namespace sandbox
