#pragma once

#include "BusNode.h"
#include "RawStarsPeer.h"
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

    // The server, made but not started: a test that wants a misbehaving,
    // verbose or otherwise special one sets it up before startServer().
    StarsTestServer& newServer(StarsTestServer::Faults faults = StarsTestServer::NoFault);
    // Starts the server newServer() made, or a plain new one.
    bool startServer();
    // A server the test plays itself in place of the server (the peer, see
    // RawStarsPeer): listening, and where the services made from now on log
    // in (busPort). The rig's server, not started, then only holds the keys.
    bool startPeer(RawStarsPeer::Conduct conduct = RawStarsPeer::Conduct::Serve);

    // Starts the service with extra configuration and logs term1 in.
    bool startService(const QMap<QString, QString>& extra = {});
    // The steps of startService(), for a test that sets the service up its
    // own way in between: the service on camera 0, not started yet ...
    ServiceProcess& newService();
    // ... then started and logged in, and term1 with it (see withTerm).
    bool launchService();
    // With the peer: starts the service and waits until the peer logged it in.
    bool launchServiceOnPeer();
    // A service set up as newService()'s, for the test to hold: a second
    // copy beside the rig's.
    std::unique_ptr<ServiceProcess> makeService();
    // term1 logged in (again) and subscribed to cam1's events (see
    // subscribeTerm).
    bool logInTerm();
    // Another node logged in to the server, its keys registered first; null
    // (with a warning) if that failed.
    std::unique_ptr<BusNode> logInNode(const QString& node, const QStringList& keys);
    // Ends service, nodes, peer and server, and forgets busPort; the options
    // below stay as set.
    void stopRig();

    // A request to cam1 and its reply line (null on time-out).
    QString ask(const QString& command) { return term->request("cam1", command, 10000); }
    // True when the request is answered "@<command> Ok:".
    bool askOk(const QString& command);
    // Sends an exposure command; true once it was answered Ok: between the
    // busy events and the camera is idle again.
    bool expose(const QString& command);

    // term1's keys, and whether logInTerm() subscribes it to cam1's events;
    // a test reading replies line by line may want no events in between.
    QStringList termKeys{QStringLiteral("t")};
    bool subscribeTerm = true;
    // Whether launchService() logs term1 in; off for a test that only
    // watches the process.
    bool withTerm = true;
    // Where the services made from now on look for the bus: 0 for the rig's
    // server, else a port of the test's own (the peer's, or one the server
    // comes up on later).
    quint16 busPort = 0;

    std::unique_ptr<StarsTestServer> server;
    std::unique_ptr<RawStarsPeer> peer;
    std::unique_ptr<ServiceProcess> service;
    std::unique_ptr<BusNode> term;
};
