#include "Body.h"

#include "CameraBackend.h"
#include "NodeLock.h"
#include "Stars.h"
#include "tarn.h"

#include <QDebug>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>

Body::Body(std::unique_ptr<camlib::CameraLibrary> library) : QObject(nullptr)
{
    if (!ReadConfig()) {
        // A missing file idles until killed (the units refuse to start without
        // one); a file that is there but cannot be read will not mend by waiting.
        if (configUnreadable)
            leave(ConfigRefusedStatus);
        return;
    }
    const QString mistake = configMistake(configMap);
    if (!mistake.isEmpty()) {
        qDebug().noquote() << mistake;
        leave(ConfigRefusedStatus);
    }

    // Pixel, int and long sizes the raw files and the protocol rely on.
    qDebug() << "sizeof" << sizeof(std::uint16_t) << sizeof(std::int32_t) << sizeof(std::int32_t);

    // A key that is present wins even with an empty value.
    nodeName = configMap.value(QStringLiteral("NAME_ON_STARS"), QLatin1String(DefaultNodeName));

    // One owner per node and image directory: a second copy would take the
    // first one's temporaries for leftovers and remove them.
    nodeLock = std::make_unique<NodeLock>(configMap.value(QStringLiteral("IMAGE_DIR")), nodeName);
    if (nodeLock->state() == NodeLock::State::HeldByOther) {
        qDebug().noquote() << QStringLiteral("Configuration error: another copy of node %1 holds %2, not starting")
                                  .arg(nodeName, nodeLock->path());
        leave(2);
    }
    if (nodeLock->state() == NodeLock::State::Unavailable)
        qDebug().noquote() << QStringLiteral("Cannot lock %1: %2 - running, earlier runs' temporaries stay")
                                  .arg(nodeLock->path(), QString::fromLocal8Bit(std::strerror(nodeLock->error())));

    createCamera(std::move(library));
    connect(camera, &Tarn::changedIsBusy, this, &Body::changedIsBusy, Qt::UniqueConnection);
    // OUTCOME_EVENTS 1: an event for each image stored and each picture lost,
    // from the same sender as the busy event; off by default.
    if (configInt(configMap, QStringLiteral("OUTCOME_EVENTS"), 0, 0, 1) == 1) {
        connect(camera, &Tarn::imageStored, this, &Body::imageStored, Qt::UniqueConnection);
        connect(camera, &Tarn::pictureLost, this, &Body::pictureLost, Qt::UniqueConnection);
    }
    createStarsClient();
}

Body::~Body()
{
    delete camera;
}

void Body::createCamera(std::unique_ptr<camlib::CameraLibrary> library)
{
    const auto no = configMap.constFind(QStringLiteral("CAMERA_NO"));
    const int cameraNo = no != configMap.constEnd() ? no.value().toInt() : -1;
    cameraLibrary = library ? std::move(library) : camlib::createCameraLibrary(configMap);
    TarnOptions options = tarnOptions(configMap);
    options.nodeName = nodeName;
    options.removeTemporaries = nodeLock && nodeLock->held();
    // CAMERA_SERIAL chooses the camera by its serial number, over CAMERA_NO.
    options.serial = configMap.value(QStringLiteral("CAMERA_SERIAL")).trimmed();
    camera = new Tarn(cameraNo, *cameraLibrary, options);
}

void Body::createStarsClient()
{
    useCommandTable();
    starsClient = new Stars();

    QString keyFileName = QLatin1String(DefaultNodeName);
    // A key that is present wins even with an empty value.
    if (configMap.contains(QStringLiteral("KEY_FILE_NAME")))
        keyFileName = configMap.value(QStringLiteral("KEY_FILE_NAME"));
    if (!starsClient->ReadStarsKeys(keyFileName, nodeName))
        leave(1); // no log-in is possible without keys
    starsClient->setLiveness(configInt(configMap, QStringLiteral("STARS_KEEPALIVE_S"), 20, 1, Stars::MaxLivenessS),
                             configInt(configMap, QStringLiteral("STARS_USER_TIMEOUT_S"), 60, 1, Stars::MaxLivenessS));
    stayUp = configInt(configMap, QStringLiteral("STARS_STAY_UP"), 0, 0, 1) == 1;

    connect(starsClient, &Stars::receivedCommand, this, &Body::answerCommand, Qt::UniqueConnection);

    // A missing address or port is recorded as empty, as the file would hold it.
    starsClient->SetNewSVAddress(configMap[QStringLiteral("STARS_IP")]);
    starsClient->SetNewSVPort(configMap[QStringLiteral("STARS_PORT")]);
    starsClient->ConnectToServer();
    // Queued: the loss may be noticed inside a write, deep in a handler.
    connect(starsClient, &Stars::Disconnected, this, &Body::busLost, Qt::QueuedConnection);
    connect(starsClient, &Stars::logInRefused, this, &Body::logInRefused, Qt::QueuedConnection);
    connect(starsClient, &Stars::ConnectionIsReady, this, &Body::loggedIn);
}

void Body::busLost()
{
    if (!stayUp) {
        Exit();
        return;
    }
    lostBus = true;
    qDebug() << "Bus connection lost; logging in again, the camera carries on";
    starsClient->connectLater();
}

void Body::loggedIn()
{
    // Subscribers may have missed busy events while we were away.
    if (lostBus)
        starsClient->SendEvent(nodeName, QStringLiteral("_ChangedIsBusy %1").arg(camera->isBusy() ? 1 : 0));
}

void Body::Exit()
{
    // The service ends with its bus connection; a supervisor restarts it.
    // The picture under way is finished first, so no image is lost half-read.
    if (camera && camera->isBusy()) {
        if (!exiting) {
            exiting = true;
            const int left = camera->finishSequence();
            qDebug() << "Bus connection lost: finishing the picture in progress;" << left
                     << "picture(s) of the sequence will not be taken";
        }
        return; // changedIsBusy(false) ends the process
    }
    leave(exitStatus);
}

void Body::logInRefused(const QString& why)
{
    // Only a new log-in of a service that stays up can meet a running sequence.
    qDebug().noquote() << "Configuration error, not logging in again:" << why;
    exitStatus = ConfigRefusedStatus;
    Exit();
}

void Body::stop(int signalNumber)
{
    const char* name = signalNumber == SIGTERM  ? "SIGTERM"
                       : signalNumber == SIGINT ? "SIGINT"
                       : signalNumber == SIGHUP ? "SIGHUP"
                                                : "a signal";
    const QString summary = camera ? camera->abandonSequence().summary : QString();
    qDebug().noquote() << QStringLiteral("Stopping on %1: %2")
                              .arg(QLatin1String(name),
                                   summary.isEmpty() ? QStringLiteral("nothing was running") : summary);
    if (starsClient)
        starsClient->flush(); // the busy event of the abandoned sequence
    leave(0);
}

void Body::leave(int status)
{
    if (starsClient)
        starsClient->reportDroppedLines();
    if (camera)
        camera->closeDevice();
    std::exit(status);
}
