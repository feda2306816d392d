#pragma once

#include "BusNode.h"
#include "ServiceProcess.h"
#include "StarsTestServer.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

// The end-to-end rig the service tests share: a test STARS server, the
// service on simulated camera 0 logged in to it, and the node term1
// subscribed to the service's events. A test class inherits it, calls
// startServer() in init() and stopRig() in cleanup(); each test then starts
// the service with the configuration it needs.
class ServiceRig : public QObject
{
protected:
    // The busy events of the service under test, node cam1.
    static inline const QString busy1 = QStringLiteral("cam1>System _ChangedIsBusy 1");
    static inline const QString busy0 = QStringLiteral("cam1>System _ChangedIsBusy 0");

    // Starts the server and registers term1's key; a failure fails the test.
    void startServer();
    // Starts the service with extra configuration and logs term1 in.
    void startService(const QMap<QString, QString>& extra = {});
    void stopRig();

    // A request to cam1 and its reply line (null on time-out).
    QString ask(const QString& command) { return term->request("cam1", command, 10000); }

    std::unique_ptr<StarsTestServer> server;
    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<BusNode> term;
};
