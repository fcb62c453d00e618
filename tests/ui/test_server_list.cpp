// The server list the window fills at creation, from resolution responders
// on loopback ports of this test's own; and listed servers reached where
// they answered, end to end.
#include "BrowseCatalog.h"
#include "GuiSupport.h"
#include "tests/discovery/LoopbackUdp.h"
#include "tests/support/TestSandbox.h"
#include "db/AdoConnection.h"
#include "sandbox/net/ResolutionResponder.h"

#include <QTest>

#include <memory>
#include <thread>
#include <vector>

using guitest::items;

namespace {

std::unique_ptr<sandbox::ResolutionResponder> responder(std::vector<sandbox::ResolutionInstance> instances,
                                                        std::uint16_t port = 0)
{
    sandbox::ResponderOptions options;
    options.port = port;
    options.instances = std::move(instances);
    auto r = std::make_unique<sandbox::ResolutionResponder>(options);
    r->start();
    return r;
}

sandbox::ResolutionInstance instance(std::u16string server, std::u16string name, std::uint16_t port = 1433)
{
    sandbox::ResolutionInstance i;
    i.serverName = std::move(server);
    i.instanceName = std::move(name);
    i.tcpPort = port;
    return i;
}

db::ServerBrowser askingOnly(std::vector<std::uint16_t> ports)
{
    return db::ServerBrowser::loopback(std::move(ports)).setWindow(std::chrono::milliseconds(300));
}

// A host name that never resolves (RFC 6761).
const QString NoHost = QStringLiteral("NOHOST.invalid");

// The user enters the password, opens the database list and picks "Shop":
// the window connected to the sandbox of browseCatalog().
[[nodiscard]] bool browsesShop(TFrmMain& w, const guitest::BoxRecorder& boxes)
{
    QTest::keyClicks(w.EdtPwd, "sandbox");
    guitest::openList(w.CmbDb);
    GUITEST_CHECK(boxes.texts().isEmpty(), qPrintable(boxes.texts().join(",")));
    const int shop = w.CmbDb->findText("Shop");
    GUITEST_CHECK(shop >= 0, "the database list holds Shop");
    guitest::chooseInOpenList(w.CmbDb, shop);
    GUITEST_CHECK(w.EdtLogSize->text() == "262144", qPrintable(w.EdtLogSize->text()));
    return true;
}

} // namespace

class ServerListTest : public QObject {
    Q_OBJECT
private slots:

    void noServerLeavesTheListEmptyAndSaysNothing()
    {
        discoverytest::LoopbackSocket silent;  // hears the request, never answers
        guitest::Window w(askingOnly({silent.port()}));
        QVERIFY(w->isVisible());
        QCOMPARE(w->CmbServer->count(), 0);
        QCOMPARE(w->CmbServer->currentIndex(), -1);
        QVERIFY(w->CmbServer->currentText().isEmpty());
        QVERIFY(w.boxes.texts().isEmpty());
    }

    void listsEveryAnnouncedServerInArrivalOrderAndSelectsTheFirst()
    {
        auto first = responder({instance(u"ALPHA", u"MSSQLSERVER")});
        auto second = responder({instance(u"beta", u"SALES"), instance(u"beta", u"mssqlserver")});
        guitest::Window w(askingOnly({first->port(), second->port()}));
        QStringList listed = items(w->CmbServer);
        // Both answers race on loopback; each keeps its own records' order.
        QCOMPARE(listed.size(), 3);
        QVERIFY(listed.indexOf("beta\\SALES") < listed.indexOf("beta"));
        QVERIFY(listed.contains("ALPHA"));
        QCOMPARE(w->CmbServer->currentIndex(), 0);
        QCOMPARE(w->CmbServer->currentText(), listed.first());
        QVERIFY(w.boxes.texts().isEmpty());
    }

    void anInstanceHeardTwiceIsListedOnce()
    {
        auto one = responder({instance(u"GAMMA", u"MSSQLSERVER")});
        auto again = responder({instance(u"GAMMA", u"MSSQLSERVER")});
        guitest::Window w(askingOnly({one->port(), again->port()}));
        QCOMPARE(items(w->CmbServer), QStringList({"GAMMA"}));
    }

    void aMalformedAnswerAmongGoodOnesIsSkipped()
    {
        auto good = responder({instance(u"DELTA", u"INST1")});
        discoverytest::LoopbackSocket bad;
        // The bad peer answers the request it hears with a truncated SVR_RESP.
        std::thread liar([&bad] {
            std::uint16_t from = 0;
            if (bad.receive(5000, &from))
                bad.sendTo(from, std::string("\x05\x40\x00ServerName;EVIL", 18));
        });
        guitest::Window w(askingOnly({bad.port(), good->port()}));
        liar.join();
        QCOMPARE(items(w->CmbServer), QStringList({"DELTA\\INST1"}));
    }

    // The announced host name need not resolve here (a NetBIOS name often
    // does not), and a default instance may listen on any port: the window
    // connects where the answer came from, on the announced port.
    void aListedServerIsReachedWhereItAnswered_data()
    {
        QTest::addColumn<QString>("instanceName");
        QTest::addColumn<QString>("listed");
        QTest::newRow("default instance on a port other than 1433") << "MSSQLSERVER" << NoHost;
        QTest::newRow("named instance") << "GAMES" << NoHost + "\\GAMES";
    }

    void aListedServerIsReachedWhereItAnswered()
    {
        QFETCH(QString, instanceName);
        QFETCH(QString, listed);
        testsupport::TestSandbox server(guitest::browseCatalog());
        auto browserService = responder({instance(NoHost.toStdU16String(), instanceName.toStdU16String(), server.port())});
        guitest::Window w(askingOnly({browserService->port()}));
        QCOMPARE(items(w->CmbServer), QStringList({listed}));
        QCOMPARE(w->CmbServer->currentText(), listed);
        QVERIFY(browsesShop(*w, w.boxes));
    }

    void aTypedNameIsUsedAsTyped()
    {
        testsupport::TestSandbox server(guitest::browseCatalog());
        // Listed, but nothing listens where it says.
        discoverytest::LoopbackSocket closed;
        auto browserService = responder({instance(NoHost.toStdU16String(), u"MSSQLSERVER", closed.port())});
        guitest::Window w(askingOnly({browserService->port()}));
        QCOMPARE(items(w->CmbServer), QStringList({NoHost}));
        QTest::keyClick(w->CmbServer, Qt::Key_A, Qt::ControlModifier);  // over the listed name
        QTest::keyClicks(w->CmbServer, QString::fromStdU16String(server.serverName()));
        QVERIFY(browsesShop(*w, w.boxes));
    }
};

QTEST_MAIN(ServerListTest)
#include "test_server_list.moc"
