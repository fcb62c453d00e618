// A raw TDS client for protocol tests: it builds requests byte by byte and
// decodes replies on its own, so that it checks the sandbox's codec rather
// than sharing it.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace wire {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

inline void putUcs2(Bytes& b, std::u16string_view s)
{
    for (char16_t c : s)
        put16(b, static_cast<std::uint16_t>(c));
}

inline Bytes ucs2(std::u16string_view s)
{
    Bytes b;
    putUcs2(b, s);
    return b;
}

struct Packet {
    std::uint8_t type = 0;
    std::uint8_t status = 0;
    std::uint16_t length = 0;
    std::uint16_t spid = 0;
    std::uint8_t id = 0;
    Bytes body;
};

struct Reply {
    std::vector<Packet> packets;
    Bytes payload;
};

// LOGIN7 as a client writes it; TDS 7.1 layout unless tds72 is set.
struct LoginRequest {
    std::u16string user = u"sa";
    std::u16string password = u"sandbox";
    std::u16string database;
    std::u16string app = u"wire-test";
    std::u16string language;  // none: the login's default
    std::uint32_t packetSize = 4096;
    bool tds74 = false;
};

inline Bytes login7(const LoginRequest& r)
{
    const std::size_t fixed = r.tds74 ? 94 : 86;
    Bytes data;
    struct Field {
        std::uint16_t offset, chars;
    };
    auto add = [&](std::u16string_view s) {
        Field f{static_cast<std::uint16_t>(fixed + data.size()), static_cast<std::uint16_t>(s.size())};
        putUcs2(data, s);
        return f;
    };
    Bytes password;
    for (char16_t c : r.password) {
        for (const auto byte : {static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8)})
            password.push_back(static_cast<std::uint8_t>(((byte << 4) | (byte >> 4)) ^ 0xA5));
    }
    const Field host = add(u"testhost");
    const Field user = add(r.user);
    const Field pass{static_cast<std::uint16_t>(fixed + data.size()), static_cast<std::uint16_t>(r.password.size())};
    data.insert(data.end(), password.begin(), password.end());
    const Field app = add(r.app);
    const Field server = add(u"127.0.0.1");
    const Field library = add(u"raw");
    const Field language = add(r.language);
    const Field database = add(r.database);

    Bytes out;
    put32(out, static_cast<std::uint32_t>(fixed + data.size()));
    put32(out, r.tds74 ? 0x74000004u : 0x71000001u);
    put32(out, r.packetSize);
    put32(out, 7);       // client program version
    put32(out, 4242);    // pid
    put32(out, 0);       // connection id
    out.push_back(0xE0); // option flags 1
    out.push_back(0x03); // option flags 2
    out.push_back(0);
    out.push_back(0);
    put32(out, 0);       // time zone
    put32(out, 0x0409);  // LCID
    for (const Field& f : {host, user, pass, app, server, Field{0, 0}, library, language, database}) {
        put16(out, f.offset);
        put16(out, f.chars);
    }
    for (int i = 0; i < 6; ++i)
        out.push_back(static_cast<std::uint8_t>(i));  // client id
    put16(out, static_cast<std::uint16_t>(fixed + data.size()));  // SSPI
    put16(out, 0);
    put16(out, static_cast<std::uint16_t>(fixed + data.size()));  // attach db file
    put16(out, 0);
    if (r.tds74) {
        put16(out, static_cast<std::uint16_t>(fixed + data.size()));  // new password
        put16(out, 0);
        put32(out, 0);  // long SSPI
    }
    EXPECT_EQ(out.size(), fixed);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// PRELOGIN as FreeTDS sends it at 7.2+ (with MARS) or at 7.1 (without).
inline Bytes prelogin(bool withMars)
{
    const std::uint8_t entries = withMars ? 5 : 4;
    const std::uint16_t start = static_cast<std::uint16_t>(entries * 5 + 1);
    const Bytes instance = {'M', 'S', 'S', 'Q', 'L', 'S', 'e', 'r', 'v', 'e', 'r', 0};
    Bytes out;
    auto entry = [&](std::uint8_t type, std::uint16_t offset, std::uint16_t length) {
        out.push_back(type);
        out.push_back(static_cast<std::uint8_t>(offset >> 8));
        out.push_back(static_cast<std::uint8_t>(offset & 0xFF));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    };
    std::uint16_t at = start;
    entry(0, at, 6);
    at += 6;
    entry(1, at, 1);
    at += 1;
    entry(2, at, static_cast<std::uint16_t>(instance.size()));
    at = static_cast<std::uint16_t>(at + instance.size());
    entry(3, at, 4);
    at += 4;
    if (withMars)
        entry(4, at, 1);
    out.push_back(0xFF);
    for (int b : {9, 0, 0, 0, 0, 0})
        out.push_back(static_cast<std::uint8_t>(b));
    out.push_back(0);  // encryption off
    out.insert(out.end(), instance.begin(), instance.end());
    put32(out, 4242);
    if (withMars)
        out.push_back(0);
    return out;
}

inline const Bytes Collation = {0x09, 0x04, 0xD0, 0x00, 0x34};

// Procedure call requests, built as FreeTDS builds them at TDS 7.1.
struct RpcParamBytes {
    std::u16string name;
    std::uint8_t status = 0;
    Bytes typeAndValue;
};

inline RpcParamBytes ntextParam(std::u16string_view text, std::u16string name = {})
{
    RpcParamBytes p{std::move(name), 0, {0x63}};
    const Bytes data = ucs2(text);
    put32(p.typeAndValue, static_cast<std::uint32_t>(data.size()));
    p.typeAndValue.insert(p.typeAndValue.end(), Collation.begin(), Collation.end());
    put32(p.typeAndValue, static_cast<std::uint32_t>(data.size()));
    p.typeAndValue.insert(p.typeAndValue.end(), data.begin(), data.end());
    return p;
}

inline RpcParamBytes nvarcharParam(std::u16string_view text, std::u16string name = {})
{
    RpcParamBytes p{std::move(name), 0, {0xE7}};
    const Bytes data = ucs2(text);
    put16(p.typeAndValue, 8000);
    p.typeAndValue.insert(p.typeAndValue.end(), Collation.begin(), Collation.end());
    put16(p.typeAndValue, static_cast<std::uint16_t>(data.size()));
    p.typeAndValue.insert(p.typeAndValue.end(), data.begin(), data.end());
    return p;
}

inline RpcParamBytes intParam(std::optional<std::int32_t> value, bool output = false, std::u16string name = {})
{
    RpcParamBytes p{std::move(name), static_cast<std::uint8_t>(output ? 1 : 0), {0x26, 4}};
    if (value) {
        p.typeAndValue.push_back(4);
        put32(p.typeAndValue, static_cast<std::uint32_t>(*value));
    } else {
        p.typeAndValue.push_back(0);
    }
    return p;
}

// `proc` as a name, or (when procId is set) the well-known id.
inline Bytes rpc(std::u16string_view proc, std::uint16_t procId, const std::vector<RpcParamBytes>& params)
{
    Bytes out;
    if (procId != 0) {
        put16(out, 0xFFFF);
        put16(out, procId);
    } else {
        put16(out, static_cast<std::uint16_t>(proc.size()));
        putUcs2(out, proc);
    }
    put16(out, 0);  // option flags
    for (const RpcParamBytes& p : params) {
        out.push_back(static_cast<std::uint8_t>(p.name.size()));
        putUcs2(out, p.name);
        out.push_back(p.status);
        out.insert(out.end(), p.typeAndValue.begin(), p.typeAndValue.end());
    }
    return out;
}

// One TCP connection to the sandbox with blocking, time-limited reads (the
// limit only keeps a broken server from hanging the suite).
class Client {
public:
    explicit Client(std::uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket");
        timeval tv{20, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            throw std::runtime_error("connect");
        }
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    void sendRaw(const Bytes& bytes)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            at += static_cast<std::size_t>(n);
        }
    }

    static Bytes packet(std::uint8_t type, const Bytes& body, bool eom, std::uint8_t id = 1)
    {
        Bytes out = {type, static_cast<std::uint8_t>(eom ? 1 : 0), 0, 0, 0, 0, id, 0};
        const std::size_t length = body.size() + 8;
        out[2] = static_cast<std::uint8_t>(length >> 8);
        out[3] = static_cast<std::uint8_t>(length & 0xFF);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

    // Sends a message as packets of at most `packetSize` bytes.
    void send(std::uint8_t type, const Bytes& payload, std::size_t packetSize = 4096)
    {
        const std::size_t chunk = packetSize - 8;
        std::size_t at = 0;
        std::uint8_t id = 1;
        do {
            const std::size_t n = std::min(chunk, payload.size() - at);
            const Bytes body(payload.begin() + static_cast<std::ptrdiff_t>(at),
                             payload.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
            sendRaw(packet(type, body, at == payload.size(), id++));
        } while (at < payload.size());
    }

    void sendBatch(std::u16string_view sql, std::size_t packetSize = 4096) { send(0x01, ucs2(sql), packetSize); }
    void sendAttention() { sendRaw(packet(0x06, {}, true)); }

    // Reads exactly n bytes; false on EOF or time-out.
    bool readExact(std::uint8_t* data, std::size_t n)
    {
        while (n > 0) {
            const ssize_t got = ::recv(fd_, data, n, 0);
            if (got <= 0)
                return false;
            data += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

    std::optional<Packet> readPacket()
    {
        std::uint8_t h[8];
        if (!readExact(h, 8))
            return std::nullopt;
        Packet p;
        p.type = h[0];
        p.status = h[1];
        p.length = static_cast<std::uint16_t>((h[2] << 8) | h[3]);
        p.spid = static_cast<std::uint16_t>((h[4] << 8) | h[5]);
        p.id = h[6];
        if (p.length < 8)
            return std::nullopt;
        p.body.resize(p.length - 8u);
        if (!p.body.empty() && !readExact(p.body.data(), p.body.size()))
            return std::nullopt;
        return p;
    }

    // Packets up to end-of-message; nullopt if the server hung up first.
    std::optional<Reply> readReply()
    {
        Reply r;
        for (;;) {
            auto p = readPacket();
            if (!p)
                return std::nullopt;
            r.payload.insert(r.payload.end(), p->body.begin(), p->body.end());
            const bool eom = (p->status & 1) != 0;
            r.packets.push_back(std::move(*p));
            if (eom)
                return r;
        }
    }

    // True when the server has closed the connection (EOF, not a time-out).
    bool serverClosed()
    {
        std::uint8_t byte;
        for (;;) {
            const ssize_t n = ::recv(fd_, &byte, 1, 0);
            if (n == 0)
                return true;
            if (n < 0)
                return errno == ECONNRESET;
            // Data still arriving: not closed yet, drain and keep looking.
        }
    }

private:
    int fd_ = -1;
};

// ---- token decoding -------------------------------------------------------

struct MessageToken {
    bool error = false;
    std::int32_t number = 0;
    std::uint8_t state = 0, severity = 0;
    std::u16string text, server, proc;
    std::uint32_t line = 0;
};

struct EnvChangeToken {
    std::uint8_t type = 0;
    std::u16string newValue, oldValue;
    Bytes newBytes;  // collation
};

struct LoginAckToken {
    std::uint8_t interface = 0;
    std::uint32_t tdsVersion = 0;
    std::u16string program;
    Bytes version;
};

struct ReturnStatusToken {
    std::int32_t value = 0;
};

struct ReturnValueToken {
    std::u16string name;
    std::optional<std::int32_t> value;
};

struct DoneToken {
    std::uint8_t token = 0;
    std::uint16_t status = 0, curCmd = 0;
    std::uint64_t rowCount = 0;
};

struct ColumnInfo {
    std::uint16_t userType = 0, flags = 0;
    std::uint8_t type = 0;
    std::uint16_t maxLength = 0;  // bytes for variable types, width for INTN/DATETIMN
    Bytes collation;
    std::u16string name;
};

using Cell = std::variant<std::monostate, std::int64_t, std::u16string, Bytes>;  // monostate: NULL

struct ColMetadataToken {
    std::vector<ColumnInfo> columns;
};

struct RowToken {
    std::vector<Cell> cells;
};

using Token = std::variant<MessageToken, EnvChangeToken, LoginAckToken, DoneToken, ColMetadataToken, RowToken,
                           ReturnStatusToken, ReturnValueToken>;

class TokenReader {
public:
    explicit TokenReader(const Bytes& data, bool wide = false) : d_(data), wide_(wide) {}

    std::vector<Token> all()
    {
        std::vector<Token> out;
        while (at_ < d_.size())
            out.push_back(next());
        return out;
    }

private:
    std::uint8_t u8() { need(1); return d_[at_++]; }
    std::uint16_t u16() { need(2); const auto v = static_cast<std::uint16_t>(d_[at_] | (d_[at_ + 1] << 8)); at_ += 2; return v; }
    std::uint32_t u32() { const std::uint32_t lo = u16(); return lo | (static_cast<std::uint32_t>(u16()) << 16); }
    std::uint64_t u64() { const std::uint64_t lo = u32(); return lo | (static_cast<std::uint64_t>(u32()) << 32); }
    Bytes bytes(std::size_t n) { need(n); Bytes b(d_.begin() + static_cast<std::ptrdiff_t>(at_), d_.begin() + static_cast<std::ptrdiff_t>(at_ + n)); at_ += n; return b; }
    std::u16string chars(std::size_t n) { std::u16string s; for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u16())); return s; }
    std::u16string bVarChar() { return chars(u8()); }
    void need(std::size_t n) const
    {
        if (at_ + n > d_.size())
            throw std::runtime_error("token stream truncated at byte " + std::to_string(at_));
    }

    Token next()
    {
        const std::uint8_t t = u8();
        switch (t) {
        case 0xAA:
        case 0xAB: {
            const std::size_t len = u16(), end = at_ + len;
            MessageToken m;
            m.error = t == 0xAA;
            m.number = static_cast<std::int32_t>(u32());
            m.state = u8();
            m.severity = u8();
            m.text = chars(u16());
            m.server = bVarChar();
            m.proc = bVarChar();
            m.line = wide_ ? u32() : u16();
            if (at_ != end)
                throw std::runtime_error("message token length mismatch");
            return m;
        }
        case 0xE3: {
            const std::size_t len = u16(), end = at_ + len;
            EnvChangeToken e;
            e.type = u8();
            if (e.type == 7) {
                e.newBytes = bytes(u8());
                bytes(u8());
            } else {
                e.newValue = bVarChar();
                e.oldValue = bVarChar();
            }
            if (at_ != end)
                throw std::runtime_error("envchange length mismatch");
            return e;
        }
        case 0xAD: {
            const std::size_t len = u16(), end = at_ + len;
            LoginAckToken a;
            a.interface = u8();
            const Bytes v = bytes(4);
            a.tdsVersion = (static_cast<std::uint32_t>(v[0]) << 24) | (static_cast<std::uint32_t>(v[1]) << 16)
                           | (static_cast<std::uint32_t>(v[2]) << 8) | v[3];
            a.program = bVarChar();
            a.version = bytes(4);
            if (at_ != end)
                throw std::runtime_error("loginack length mismatch");
            return a;
        }
        case 0xFD:
        case 0xFE:
        case 0xFF: {
            DoneToken d;
            d.token = t;
            d.status = u16();
            d.curCmd = u16();
            d.rowCount = wide_ ? u64() : u32();
            return d;
        }
        case 0x81: {
            ColMetadataToken m;
            const std::uint16_t n = u16();
            for (std::uint16_t i = 0; i < n; ++i) {
                ColumnInfo c;
                c.userType = u16();
                c.flags = u16();
                c.type = u8();
                switch (c.type) {
                case 0x30: c.maxLength = 1; break;
                case 0x34: c.maxLength = 2; break;
                case 0x38: c.maxLength = 4; break;
                case 0x7F: c.maxLength = 8; break;
                case 0x3D: c.maxLength = 8; break;
                case 0x26:
                case 0x6F: c.maxLength = u8(); break;
                case 0xA5: c.maxLength = u16(); break;
                case 0xA7:
                case 0xE7:
                case 0xEF:
                    c.maxLength = u16();
                    c.collation = bytes(5);
                    break;
                default:
                    throw std::runtime_error("unexpected column type " + std::to_string(c.type));
                }
                c.name = bVarChar();
                m.columns.push_back(c);
            }
            columns_ = m.columns;
            return m;
        }
        case 0x79:
            return ReturnStatusToken{static_cast<std::int32_t>(u32())};
        case 0xAC: {
            ReturnValueToken v;
            u16();  // ordinal
            v.name = bVarChar();
            u8();   // status
            u16();  // user type
            u16();  // flags
            if (u8() != 0x26 || u8() != 4)
                throw std::runtime_error("return value is not an int");
            if (u8() == 4)
                v.value = static_cast<std::int32_t>(u32());
            return v;
        }
        case 0xD1: {
            RowToken r;
            for (const ColumnInfo& c : columns_)
                r.cells.push_back(cell(c));
            return r;
        }
        default:
            throw std::runtime_error("unknown token " + std::to_string(t) + " at byte " + std::to_string(at_ - 1));
        }
    }

    std::int64_t integer(std::size_t width)
    {
        switch (width) {
        case 1: return u8();
        case 2: return static_cast<std::int16_t>(u16());
        case 4: return static_cast<std::int32_t>(u32());
        default: return static_cast<std::int64_t>(u64());
        }
    }

    Cell cell(const ColumnInfo& c)
    {
        switch (c.type) {
        case 0x30: case 0x34: case 0x38: case 0x7F:
            return integer(c.maxLength);
        case 0x26: {
            const std::uint8_t n = u8();
            if (n == 0)
                return std::monostate{};
            return integer(n);
        }
        case 0x3D:
            return bytes(8);
        case 0x6F: {
            const std::uint8_t n = u8();
            if (n == 0)
                return std::monostate{};
            return bytes(n);
        }
        default: {
            const std::uint16_t n = u16();
            if (n == 0xFFFF)
                return std::monostate{};
            if (c.type == 0xE7 || c.type == 0xEF)
                return chars(n / 2u);
            return bytes(n);
        }
        }
    }

    const Bytes& d_;
    bool wide_;
    std::size_t at_ = 0;
    std::vector<ColumnInfo> columns_;
};

inline std::vector<Token> tokens(const Reply& r, bool wide = false)
{
    return TokenReader(r.payload, wide).all();
}

template <class T>
std::vector<T> only(const std::vector<Token>& all)
{
    std::vector<T> out;
    for (const Token& t : all)
        if (const T* x = std::get_if<T>(&t))
            out.push_back(*x);
    return out;
}

} // namespace wire
