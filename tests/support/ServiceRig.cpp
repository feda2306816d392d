#include "ServiceRig.h"

#include <QtTest>

void ServiceRig::startServer()
{
    server = std::make_unique<StarsTestServer>();
    QVERIFY(server->start());
    QVERIFY(server->addKeys("term1", {"t"}));
}

void ServiceRig::startService(const QMap<QString, QString>& extra)
{
    service = std::make_unique<ServiceProcess>(*server);
    service->setConfigValue("CAMERA_NO", "0");
    for (auto it = extra.begin(); it != extra.end(); ++it)
        service->setConfigValue(it.key(), it.value());
    QVERIFY(service->start());
    QVERIFY2(service->waitForLogin(), qPrintable(service->log()));
    term = std::make_unique<BusNode>();
    QVERIFY(term->login(server->port(), "term1", {"t"}));
    QCOMPARE(term->request("System", "flgon cam1"), QStringLiteral("System>term1 @flgon Ok:"));
}

void ServiceRig::stopRig()
{
    term.reset();
    service.reset();
    server.reset();
}
