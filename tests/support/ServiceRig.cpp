#include "ServiceRig.h"

#include <QDebug>

namespace {

bool fail(const QString& what)
{
    qWarning().noquote() << what;
    return false;
}

} // namespace

bool ServiceRig::startServer()
{
    server = std::make_unique<StarsTestServer>();
    if (!server->start() || !server->addKeys("term1", termKeys))
        return fail(QStringLiteral("the test bus server did not start"));
    return true;
}

bool ServiceRig::startService(const QMap<QString, QString>& extra)
{
    newService();
    for (auto it = extra.begin(); it != extra.end(); ++it)
        service->setConfigValue(it.key(), it.value());
    return launchService();
}

ServiceProcess& ServiceRig::newService()
{
    term.reset();
    service = std::make_unique<ServiceProcess>(*server);
    service->setConfigValue("CAMERA_NO", "0");
    return *service;
}

bool ServiceRig::launchService()
{
    if (!service->start())
        return fail(QStringLiteral("the service did not start"));
    if (!service->waitForLogin())
        return fail(QStringLiteral("the service did not log in:\n") + service->log());
    return logInTerm();
}

bool ServiceRig::logInTerm()
{
    term = std::make_unique<BusNode>();
    if (!term->login(server->port(), "term1", termKeys))
        return fail(QStringLiteral("term1 did not log in"));
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
    server.reset();
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
