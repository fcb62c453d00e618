// One client connection: PRELOGIN, LOGIN7, then SQL batches until the
// client leaves, the server stops, or a fault drops the connection.
#pragma once

#include "Engine.h"
#include "Socket.h"
#include "TdsLogin.h"
#include "TdsPacket.h"
#include "TdsTokens.h"

#include <cstdint>
#include <map>
#include <string>

namespace sandbox {

// What a session needs from the server that owns it.
class SessionHost {
public:
    virtual Engine& engine() = 0;
    virtual const std::u16string& serverName() const = 0;
    virtual const std::u16string& password() const = 0;
    virtual bool refuseLogins() const = 0;
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
    class BatchSink;
    friend class BatchSink;

    bool handshake();
    bool login(const tds::Request& request);
    bool rejectLogin(const tds::Login7& login, const Message* first);
    bool serveBatch(const tds::Request& request);
    bool serveRpc(const tds::Request& request);
    void runSql(const std::u16string& text, BatchSink& sink);
    bool answerAttention();
    bool sendReply(tds::TokenBuffer& tokens);
    bool sendPackets(std::span<const std::uint8_t> payload, bool endOfMessage);

    Connection connection_;
    tds::RequestReader reader_;
    tds::PacketWriter writer_;
    SessionHost& host_;
    SessionState state_;
    // Statements prepared through sp_prepare / sp_prepexec, by handle.
    std::map<std::int32_t, std::u16string> prepared_;
    std::int32_t nextHandle_ = 1;
};

} // namespace sandbox
