// Server discovery: asks the SQL Server Browser services (UDP 1434) which
// instances there are and lists them the way SQL Server's tools do. The main
// window's FormCreate fills its server list from TSqlServerLocator.
#pragma once

#include "db/discovery/DiscoveryProtocol.h"
#include "db/discovery/DiscoverySocket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace db {

struct DiscoveredServer {
    std::u16string name;          // as listed: "HOST" or "HOST\INSTANCE"
    ssrp::InstanceRecord record;  // from the first answer that named it
    std::uint32_t answeredFrom = net::AnyAddress;  // that answer's sender

    // Where to connect (a Server= value, see serverAddress()): the address
    // the answer came from, as the announced host name often does not
    // resolve here, and the announced TCP port, the default instance's too.
    std::u16string address() const;
};

struct BrowseResult {
    std::vector<DiscoveredServer> servers; // first arrival first, each name once
    int answers = 0;  // well-formed answers received
    int rejected = 0; // datagrams skipped as malformed, truncated or oversized

    std::vector<std::u16string> names() const;
};

// One request browse() sends.
struct BrowseRequest {
    net::Endpoint to;
    std::uint8_t type = ssrp::ClntBcastEx;
    friend bool operator==(const BrowseRequest&, const BrowseRequest&) = default;
};

// Where to ask, and for how long. Two kinds only, so a test can never send to
// anything but the loopback ports it names.
//
// Any host on the network may answer, as often and with as many names as it
// likes: a browse keeps at most MaxServers names, finds a name heard before
// in constant time, and stops reading when its window closes whatever is
// still arriving.
class ServerBrowser {
public:
    static constexpr std::chrono::milliseconds DefaultWindow{500};
    // Under a second, so that the window's start never keeps the user long.
    static constexpr std::chrono::milliseconds MaxWindow{990};
    // Far more than any LAN has; what comes after is dropped.
    static constexpr std::size_t MaxServers = 1024;

    // CLNT_BCAST_EX to UDP 1434 on 255.255.255.255 and on the broadcast
    // address of every IPv4 interface, CLNT_UCAST_EX to 127.0.0.1:1434 for
    // this machine's own instances.
    static ServerBrowser network();
    // CLNT_UCAST_EX to 127.0.0.1 on each of these ports, nothing else; the
    // socket is not even allowed to broadcast. Stops as soon as each port has
    // answered. No ports: browse() returns at once with nothing.
    static ServerBrowser loopback(std::vector<std::uint16_t> ports);

    // The requests the network browser sends, in order, given the
    // interfaces' broadcast addresses.
    static std::vector<BrowseRequest> networkPlan(std::span<const std::uint32_t> interfaceBroadcasts);
    // The requests browse() would send now (for the network browser, with
    // this machine's interfaces). Sends nothing.
    std::vector<BrowseRequest> plan() const;

    // How long to collect answers; clamped to [0, MaxWindow].
    ServerBrowser& setWindow(std::chrono::milliseconds window);
    std::chrono::milliseconds window() const { return window_; }
    bool broadcasts() const { return scope_ == Scope::Network; }

    // Sends the plan's requests (failed sends are ignored: an interface may
    // have gone, a network may be unreachable) and collects answers until the
    // window closes, counted from the call. Throws EDatabaseError only when
    // no UDP socket can be had; an error while waiting ends the collection
    // early with what has arrived.
    BrowseResult browse() const;

private:
    enum class Scope { Network, Loopback };
    ServerBrowser(Scope scope, std::vector<std::uint16_t> ports);

    Scope scope_;
    std::vector<std::uint16_t> ports_;
    std::chrono::milliseconds window_ = DefaultWindow;
};

// The servers found by one discovery, indexed from 1 like the automation
// collections the tool was first written against.
class TNameList {
public:
    explicit TNameList(std::vector<DiscoveredServer> servers) : servers_(std::move(servers)) {}

    int Count() const { return static_cast<int>(servers_.size()); }
    // The name as listed. Throws EDatabaseError "List index out of bounds
    // (<i>)" outside 1..Count(), as Address does.
    std::u16string Item(int index) const;
    // Where that server is reached (DiscoveredServer::address).
    std::u16string Address(int index) const;
    // The version its answer announced, as sent ("8.00.194").
    std::u16string Version(int index) const;

private:
    const DiscoveredServer& at(int index) const;

    std::vector<DiscoveredServer> servers_;
};

// The application object of discovery: built from where to ask, asked once.
class TSqlServerLocator {
public:
    explicit TSqlServerLocator(ServerBrowser browser) : browser_(std::move(browser)) {}

    // Blocks for the browser's window (under a second). Throws
    // EDatabaseError if discovery cannot run at all.
    TNameList ListAvailableSQLServers() const;

private:
    ServerBrowser browser_;
};

} // namespace db
