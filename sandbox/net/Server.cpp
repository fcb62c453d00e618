#include "sandbox/net/Server.h"

#include "sandbox/net/Session.h"
#include "sandbox/net/Socket.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <list>
#include <set>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace sandbox {

namespace {

constexpr std::uint16_t FirstUserSpid = 51;  // SPIDs below are SQL Server's own system processes

// Counts the batches of every server in the process (BatchMark).
std::atomic<std::uint64_t> batchesEverywhere{0};

std::string toUtf8(const std::u16string& text)
{
    const QByteArray bytes = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string utcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return text;
}

} // namespace

struct Server::Impl final : SessionHost {
    explicit Impl(ServerOptions opts) : options(std::move(opts)), engine_(options.catalog)
    {
        engine_.setServerName(options.serverName);
    }

    // SessionHost
    Engine& engine() override { return engine_; }
    const std::u16string& serverName() const override { return options.serverName; }
    const std::u16string& password() const override { return options.password; }
    bool refuseLogins() const override { return refuse.load(); }
    std::shared_ptr<const TlsContext> tls() override
    {
        std::lock_guard lock(tlsMutex);
        if (!tlsContext) {
            const Generation g = engine_.generation();
            std::shared_ptr<const TlsCredentials> credentials = options.certificate;
            if (!credentials && hasCatalogViews(g))  // 2005 and later make their own
                credentials = TlsCredentials::selfSigned(selfSignedKind(g));
            if (credentials)
                tlsContext = std::make_shared<const TlsContext>(std::move(credentials),
                                                                options.tls.value_or(defaultTlsProtocol(g)));
        }
        return tlsContext;
    }
    bool forceEncryption() const override { return options.forceEncryption; }
    void recordBatch(std::uint16_t spid, const std::u16string& text) override;

    void acceptLoop();
    void startSession(Fd socket);
    void reapFinished();
    std::uint16_t allocateSpid();
    void releaseSpid(std::uint16_t spid);

    struct Slot {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    ServerOptions options;
    Engine engine_;
    std::unique_ptr<StopSignal> stop;
    Fd listener;
    std::uint16_t boundPort = 0;
    std::thread acceptThread;
    bool running = false;
    std::atomic<bool> refuse{false};
    std::atomic<int> active{0};
    std::mutex tlsMutex;
    std::shared_ptr<const TlsContext> tlsContext;  // made when the first client asks for it

    std::list<Slot> sessions;  // touched by the accept thread, and by stop() once it has ended
    std::mutex spidMutex;
    std::set<std::uint16_t> spidsInUse;

    mutable std::mutex transcriptMutex;
    std::vector<std::u16string> transcript;
    std::vector<BatchMark> marks;
    std::ofstream transcriptOut;
    std::uint64_t batchesRecorded = 0;
};

void Server::Impl::recordBatch(std::uint16_t spid, const std::u16string& text)
{
    std::lock_guard lock(transcriptMutex);
    transcript.push_back(text);
    marks.push_back({++batchesEverywhere, spid});
    ++batchesRecorded;
    if (transcriptOut.is_open()) {
        // The byte count makes each record unambiguous even when the batch
        // itself contains lines that look like a header.
        const std::string utf8 = toUtf8(text);
        transcriptOut << "-- batch " << batchesRecorded << " (spid " << spid << ", " << utcNow() << ", "
                      << utf8.size() << " bytes)\n"
                      << utf8 << "\n";
        transcriptOut.flush();
    }
}

std::uint16_t Server::Impl::allocateSpid()
{
    std::lock_guard lock(spidMutex);
    std::uint16_t spid = FirstUserSpid;
    // SQL Server hands out the lowest free SPID.
    while (spidsInUse.count(spid) != 0 && spid < 0x7FFF)
        ++spid;
    spidsInUse.insert(spid);
    return spid;
}

void Server::Impl::releaseSpid(std::uint16_t spid)
{
    std::lock_guard lock(spidMutex);
    spidsInUse.erase(spid);
}

void Server::Impl::reapFinished()
{
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (it->finished.load()) {
            it->thread.join();
            it = sessions.erase(it);
        } else {
            ++it;
        }
    }
}

void Server::Impl::startSession(Fd socket)
{
    const std::uint16_t spid = allocateSpid();
    Slot& slot = sessions.emplace_back();
    ++active;
    const int fd = socket.release();
    try {
        slot.thread = std::thread([this, &slot, spid, fd] {
            {
                Session session(Fd(fd), spid, *this, *stop);
                session.run();
            }
            releaseSpid(spid);
            --active;
            slot.finished = true;
        });
    } catch (const std::system_error&) {
        // No thread to serve it: hang up on this client, keep the others.
        Fd hangUp(fd);
        sessions.pop_back();
        releaseSpid(spid);
        --active;
    }
}

void Server::Impl::acceptLoop()
{
    for (;;) {
        const Wait w = waitReadable(listener.get(), *stop, std::nullopt);
        if (w == Wait::Stopped || w == Wait::Closed)
            return;
        if (w != Wait::Ready)
            continue;
        const int fd = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let sessions end first
            continue;
        }
        reapFinished();
        startSession(Fd(fd));
    }
}

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server()
{
    try {
        stop();
    } catch (...) {
        // Destructors never throw; the threads are joined by stop() before any failure can occur.
    }
}

void Server::start()
{
    Impl& d = *impl_;
    if (d.running)
        throw std::runtime_error("the sandbox server is already running");
    if (!d.options.transcriptFile.empty() && !d.transcriptOut.is_open()) {
        d.transcriptOut.open(d.options.transcriptFile, std::ios::out | std::ios::app | std::ios::binary);
        if (!d.transcriptOut)
            throw std::runtime_error("cannot open transcript file '" + d.options.transcriptFile + "'");
    }
    d.stop = std::make_unique<StopSignal>();
    d.listener = listenTcp(d.options.bindAddress, d.options.port);
    d.boundPort = localPort(d.listener.get());
    d.acceptThread = std::thread([&d] { d.acceptLoop(); });
    d.running = true;
}

void Server::stop()
{
    Impl& d = *impl_;
    if (!d.running)
        return;
    d.stop->raise();
    d.acceptThread.join();
    d.listener.reset();
    for (auto& slot : d.sessions)
        slot.thread.join();
    d.sessions.clear();
    d.running = false;
}

std::uint16_t Server::port() const { return impl_->boundPort; }

std::vector<std::u16string> Server::transcript() const
{
    std::lock_guard lock(impl_->transcriptMutex);
    return impl_->transcript;
}

void Server::clearTranscript()
{
    std::lock_guard lock(impl_->transcriptMutex);
    impl_->transcript.clear();
    impl_->marks.clear();
}

std::vector<BatchMark> Server::batchMarks() const
{
    std::lock_guard lock(impl_->transcriptMutex);
    return impl_->marks;
}

Engine& Server::engine() { return impl_->engine_; }

void Server::setRefuseLogins(bool refuse) { impl_->refuse = refuse; }

int Server::activeSessions() const { return impl_->active.load(); }

} // namespace sandbox
