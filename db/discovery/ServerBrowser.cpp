#include "db/discovery/ServerBrowser.h"

#include "db/ConnectionString.h"
#include "db/Errors.h"
#include "db/Text.h"

#include <algorithm>
#include <unordered_set>

namespace db {

namespace {

// Big enough for the largest answer the size field can describe plus one
// byte, so that a longer datagram shows as longer rather than being cut to fit.
constexpr std::size_t ReceiveBufferSize = ssrp::ResponseHeaderSize + ssrp::MaxResponseData + 1;

// The answers of one browse, bounded whatever the senders do.
class Collector {
public:
    explicit Collector(BrowseResult& result) : result_(result) {}

    void add(std::span<const std::uint8_t> datagram, std::uint32_t from)
    {
        const auto records = ssrp::parseResponse(datagram);
        if (!records) {
            ++result_.rejected;
            return;
        }
        ++result_.answers;
        for (const auto& record : *records) {
            if (result_.servers.size() >= ServerBrowser::MaxServers)
                return;
            auto name = record.displayName();
            if (seen_.insert(foldedCase(name)).second)
                result_.servers.push_back({std::move(name), record, from});
        }
    }

private:
    BrowseResult& result_;
    std::unordered_set<std::u16string> seen_;  // names as SameText compares them
};

} // namespace

std::u16string DiscoveredServer::address() const
{
    const bool named = !SameText(record.instanceName, ssrp::DefaultInstanceName);
    return serverAddress(asciiToUtf16(net::toString(answeredFrom)), named ? record.instanceName : std::u16string(),
                         record.tcpPort);
}

std::vector<std::u16string> BrowseResult::names() const
{
    std::vector<std::u16string> list;
    list.reserve(servers.size());
    for (const auto& server : servers)
        list.push_back(server.name);
    return list;
}

ServerBrowser::ServerBrowser(Scope scope, std::vector<std::uint16_t> ports)
    : scope_(scope), ports_(std::move(ports))
{
}

ServerBrowser ServerBrowser::network()
{
    return ServerBrowser(Scope::Network, {});
}

ServerBrowser ServerBrowser::loopback(std::vector<std::uint16_t> ports)
{
    return ServerBrowser(Scope::Loopback, std::move(ports));
}

ServerBrowser& ServerBrowser::setWindow(std::chrono::milliseconds window)
{
    window_ = std::clamp(window, std::chrono::milliseconds::zero(), MaxWindow);
    return *this;
}

std::vector<BrowseRequest> ServerBrowser::networkPlan(std::span<const std::uint32_t> interfaceBroadcasts)
{
    std::vector<BrowseRequest> plan;
    plan.push_back({{net::LimitedBroadcastAddress, ssrp::BrowserPort}, ssrp::ClntBcastEx});
    for (const auto address : interfaceBroadcasts)
        plan.push_back({{address, ssrp::BrowserPort}, ssrp::ClntBcastEx});
    // Broadcasts do not come back to this machine's own instances.
    plan.push_back({{net::LoopbackAddress, ssrp::BrowserPort}, ssrp::ClntUcastEx});
    return plan;
}

std::vector<BrowseRequest> ServerBrowser::plan() const
{
    if (scope_ == Scope::Network)
        return networkPlan(net::interfaceBroadcastAddresses());
    std::vector<BrowseRequest> plan;
    for (const auto port : ports_)
        plan.push_back({{net::LoopbackAddress, port}, ssrp::ClntUcastEx});
    return plan;
}

BrowseResult ServerBrowser::browse() const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + window_;

    BrowseResult result;
    const std::vector<BrowseRequest> requests = plan();
    if (requests.empty())
        return result;

    const bool network = scope_ == Scope::Network;
    // Answers to a broadcast come from other hosts, so only the network
    // browser listens beyond loopback.
    net::UdpSocket socket({network ? net::AnyAddress : net::LoopbackAddress, 0}, network);
    for (const auto& request : requests)
        socket.sendTo(ssrp::allInstancesRequest(request.type), request.to);

    // On loopback every port asked is known, so the browse ends when each
    // has answered; on the network anyone may still answer.
    std::unordered_set<std::uint16_t> silent;
    if (!network) {
        for (const auto& request : requests)
            silent.insert(request.to.port);
    }

    Collector collector(result);
    std::vector<std::uint8_t> buffer(ReceiveBufferSize);
    for (;;) {
        // Whole milliseconds, rounded down: poll() may wake a little late, so
        // the last fraction is not waited for. Checked before every read, so
        // a sender that never stops cannot keep the browse open.
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining <= std::chrono::milliseconds::zero())
            break;
        const auto wait = socket.waitReadable(remaining);
        if (wait == net::UdpSocket::Wait::Failed)
            break;
        if (wait == net::UdpSocket::Wait::TimedOut)
            continue;
        net::Endpoint from;
        const auto size = socket.receive(buffer, &from);
        if (!size)
            continue;
        collector.add(std::span<const std::uint8_t>(buffer.data(), *size), from.address);
        if (!network && from.address == net::LoopbackAddress && silent.erase(from.port) > 0 && silent.empty())
            break;
    }
    return result;
}

const DiscoveredServer& TNameList::at(int index) const
{
    if (index < 1 || index > Count())
        throw EDatabaseError(u"List index out of bounds (" + asciiToUtf16(std::to_string(index)) + u")");
    return servers_[static_cast<std::size_t>(index - 1)];
}

std::u16string TNameList::Item(int index) const { return at(index).name; }

std::u16string TNameList::Address(int index) const { return at(index).address(); }

std::u16string TNameList::Version(int index) const { return at(index).record.version; }

TNameList TSqlServerLocator::ListAvailableSQLServers() const
{
    return TNameList(browser_.browse().servers);
}

} // namespace db
