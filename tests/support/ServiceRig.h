#pragma once

#include "BusNode.h"
#include "ServiceProcess.h"
#include "StarsTestServer.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// The end-to-end rig the service tests share: a test STARS server, the
// service on simulated camera 0 logged in to it, and the node term1
// subscribed to the service's events. A test class inherits it (calling
// startServer() in init() and stopRig() in cleanup()) or holds one; each
// test then starts the service with the configuration it needs. A step
// that fails logs why and returns false.
class ServiceRig : public QObject
{
public:
    // The busy events of the service under test, node cam1.
    static inline const QString busy1 = QStringLiteral("cam1>System _ChangedIsBusy 1");
    static inline const QString busy0 = QStringLiteral("cam1>System _ChangedIsBusy 0");

    // Starts the server and registers term1's key.
    bool startServer();
    // Starts the service with extra configuration and logs term1 in.
    bool startService(const QMap<QString, QString>& extra = {});
    // The steps of startService(), for a test that sets the service up its
    // own way in between: the service on camera 0, not started yet ...
    ServiceProcess& newService();
    // ... then started and logged in, and term1 with it.
    bool launchService();
    // term1 logged in (again) and subscribed to cam1's events (see
    // subscribeTerm).
    bool logInTerm();
    void stopRig();

    // A request to cam1 and its reply line (null on time-out).
    QString ask(const QString& command) { return term->request("cam1", command, 10000); }
    // True when the request is answered "@<command> Ok:".
    bool askOk(const QString& command);
    // Sends an exposure command; true once it was answered Ok: between the
    // busy events and the camera is idle again.
    bool expose(const QString& command);

    // term1's keys (set before startServer()), and whether logInTerm()
    // subscribes it to cam1's events; a test reading replies line by line
    // may want no events in between.
    QStringList termKeys{QStringLiteral("t")};
    bool subscribeTerm = true;

    std::unique_ptr<StarsTestServer> server;
    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<BusNode> term;
};
