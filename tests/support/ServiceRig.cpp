#include "ServiceRig.h"

#include "TestWait.h"

#include <QDebug>

namespace {

bool fail(const QString& what)
{
    qWarning().noquote() << what;
    return false;
}

// The rig's waits only keep a broken test from hanging.
constexpr int LogInWaitMs = 15000;
constexpr int NodeLogInWaitMs = 10000;

} // namespace

StarsTestServer& ServiceRig::newServer(StarsTestServer::Faults faults)
{
    server = std::make_unique<StarsTestServer>(faults);
    return *server;
}

bool ServiceRig::startServer()
{
    if (!server || server->isRunning())
        newServer();
    if (!server->start())
        return fail(QStringLiteral("the test bus server did not start"));
    return true;
}

bool ServiceRig::startPeer(RawStarsPeer::Conduct conduct)
{
    peer = std::make_unique<RawStarsPeer>(conduct);
    if (!peer->listen())
        return fail(QStringLiteral("the peer cannot listen"));
    busPort = peer->port();
    return true;
}

bool ServiceRig::startService(const QMap<QString, QString>& extra)
{
    newService();
    for (auto it = extra.begin(); it != extra.end(); ++it)
        service->setConfigValue(it.key(), it.value());
    return launchService();
}

std::unique_ptr<ServiceProcess> ServiceRig::makeService()
{
    if (!server)
        newServer();
    auto made = std::make_unique<ServiceProcess>(*server);
    made->setConfigValue("CAMERA_NO", "0");
    if (busPort != 0)
        made->setConfigValue("STARS_PORT", QString::number(busPort));
    return made;
}

ServiceProcess& ServiceRig::newService()
{
    term.reset();
    service = makeService();
    return *service;
}

bool ServiceRig::launchService()
{
    if (!service->start())
        return fail(QStringLiteral("the service did not start"));
    if (!service->waitForLogin())
        return fail(QStringLiteral("the service did not log in:\n") + service->log());
    return !withTerm || logInTerm();
}

bool ServiceRig::launchServiceOnPeer()
{
    peer->expectLogin(service->nodeName(), service->keys());
    if (!service->start())
        return fail(QStringLiteral("the service did not start"));
    if (!TestWait::until([this] { return peer->isLoggedIn() || !service->isRunning(); }, LogInWaitMs)
        || !peer->isLoggedIn())
        return fail(QStringLiteral("the peer did not log the service in: \"%1\"\n%2")
                        .arg(QString::fromLatin1(peer->loginLine()), service->log()));
    return true;
}

std::unique_ptr<BusNode> ServiceRig::logInNode(const QString& node, const QStringList& keys)
{
    auto made = std::make_unique<BusNode>();
    if (!server->addKeys(node, keys) || !made->login(server->port(), node, keys, NodeLogInWaitMs)) {
        fail(node + QStringLiteral(" did not log in"));
        return nullptr;
    }
    return made;
}

bool ServiceRig::logInTerm()
{
    term = logInNode(QStringLiteral("term1"), termKeys);
    if (!term)
        return false;
    if (!subscribeTerm)
        return true;
    const QString subscribed = term->request("System", "flgon cam1");
    if (subscribed != QStringLiteral("System>term1 @flgon Ok:"))
        return fail(QStringLiteral("no subscription to cam1: ") + subscribed);
    return true;
}

void ServiceRig::stopRig()
{
    term.reset();
    service.reset();
    peer.reset();
    server.reset();
    busPort = 0;
}

bool ServiceRig::askOk(const QString& command)
{
    return ask(command) == QStringLiteral("cam1>term1 @%1 Ok:").arg(command.section(' ', 0, 0));
}

bool ServiceRig::expose(const QString& command)
{
    term->send("term1>cam1 " + command);
    return term->nextLine() == busy1 && term->nextLine() == QStringLiteral("cam1>term1 @%1 Ok:").arg(command)
           && term->nextLine(20000) == busy0;
}
