#pragma once

#include "CameraLibrary.h"
#include "SMsg.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class NodeLock;
class Stars;
class Tarn;
struct TarnOptions;

// The service's top-level object: reads config.cfg, owns the camera object
// (which holds the exposure settings the bus sets) and the STARS client, and
// answers every command (the Ans<Command> slots, one per command word).
class Body : public QObject
{
    Q_OBJECT

public:
    // Runs the whole start-up. A library given here replaces the one the
    // configuration selects (tests drive the service on their own simulator).
    explicit Body(std::unique_ptr<camlib::CameraLibrary> library = nullptr);
    ~Body() override;

    // Reads "config.cfg" from the working directory into configMap; false
    // when it cannot be read: missing, not a regular file, or over 1 MiB.
    bool ReadConfig();

    // Logs every key of config the service does not know, with the known key
    // it was probably meant to be (a typing error would otherwise pass unseen).
    static void logUnknownKeys(const QMap<QString, QString>& config);

    // The camera object's options from config: START_SET_POINT (degrees C, or
    // "keep" for none) and IMAGE_DIR. An invalid set point is logged and the
    // default kept; a missing or unwritable image directory is logged.
    // IMAGE_METADATA (0 or 1, default 1) turns the metadata files on.
    static TarnOptions tarnOptions(const QMap<QString, QString>& config);

    // The whole number under key in map, or fallback when the key is absent;
    // a value that is no whole number from min to max is logged with its key
    // and gives fallback as well.
    static int configInt(const QMap<QString, QString>& map, const QString& key, int fallback, int min, int max);

    // Why config cannot bring the node onto the bus, as one line naming the
    // key, the file and the fix; empty when it can. A missing or empty
    // STARS_IP or STARS_PORT, or a port of 0, would retry for ever.
    static QString configMistake(const QMap<QString, QString>& config);

    // Exit status of a configuration that cannot work; the units do not
    // restart on it.
    static constexpr int ConfigRefusedStatus = 2;

    Tarn* getCamera() const { return camera; }
    Stars* getStarsClient() const { return starsClient; }
    const QMap<QString, QString>& getConfig() const { return configMap; }

    // Default node and key-file name when the configuration names none.
    static constexpr const char* DefaultNodeName = "QtTarn";

    // The slot answering a command.
    using Answer = void (Body::*)(SMsg);
    // The slot for a parsed command code; nullptr for a word the service does
    // not serve (answered "Er: Undefined Command").
    static Answer answerFor(int commandCode);

public slots:
    // An orderly stop (SIGTERM, SIGINT, SIGHUP): abandons what runs at its
    // next step boundary, logs what was finished and what abandoned, closes
    // the device and ends the process with status 0.
    void stop(int signalNumber);

private slots:
    void changedIsBusy(bool f);
    // "_ImageStored <file>" and "_PictureLost <picture> <step>" events.
    void imageStored(const QString& file);
    void pictureLost(int picture, const QString& step);
    // Every command the bus client received, answered through commandRoutes.
    void answerCommand(const SMsg& msg);

    void AnsIsBusy(SMsg msg);
    void AnsGetLibVer(SMsg msg);
    void AnsGetModel(SMsg msg);
    void AnsGetSerialSTR(SMsg msg);
    void AnsGetHWRev(SMsg msg);
    void AnsGetPixSize(SMsg msg);
    void AnsGetArrayArea(SMsg msg);
    void AnsGetVisArea(SMsg msg);
    void AnsSetTemp(SMsg msg);
    void AnsGetTemp(SMsg msg);
    void AnsGetCCDTemp(SMsg msg);
    void AnsGetBaseTemp(SMsg msg);
    void AnsGetCoolerPWR(SMsg msg);
    void AnsSetBin(SMsg msg);
    void AnsGetBin(SMsg msg);
    void AnsSetRBIFlushes(SMsg msg);
    void AnsGetRBIFlushes(SMsg msg);
    void AnsSetRBIExpTime(SMsg msg);
    void AnsGetRBIExpTime(SMsg msg);
    void AnsSetTDIRate(SMsg msg);
    void AnsGetTDIRate(SMsg msg);
    void AnsSetImages(SMsg msg);
    void AnsSetExpTime(SMsg msg);
    void AnsSetInterval(SMsg msg);
    void AnsSetFileName(SMsg msg);
    void AnsGetImages(SMsg msg);
    void AnsGetExpTime(SMsg msg);
    void AnsGetInterval(SMsg msg);
    void AnsGetFileName(SMsg msg);
    void AnsExposure(SMsg msg);
    void AnsStartExposure(SMsg msg);
    void AnsDownLoadImage(SMsg msg);
    void AnsRBIFlush(SMsg msg);
    void AnsSetSeqFileNo(SMsg msg);
    void AnsGetSeqFileNo(SMsg msg);
    void AnsSetUseSeqFNo(SMsg msg);
    void AnsGetUseSeqFNo(SMsg msg);
    // Ends the running sequence at once (nothing partial stored) and answers Ok:
    // whether anything ran or not; Err: Cancel when the camera refused to cancel
    // the frame being exposed (the sequence ends all the same).
    void AnsAbort(SMsg msg);
    void AnsGetProgress(SMsg msg);
    void AnsGetLastFile(SMsg msg);
    void AnsGetLastOutcome(SMsg msg);

    // Bus connection lost: with STARS_STAY_UP, log in again; otherwise the
    // picture in progress is finished and the process ends (status 0).
    void Exit();
    void busLost();
    void loggedIn();
    void logInRefused(const QString& why);

private:
    static const Answer commandRoutes[]; // indexed by command code

    // Closes the device, logs the lines that could not be sent and ends the
    // process with status.
    [[noreturn]] void leave(int status);
    void createCamera(std::unique_ptr<camlib::CameraLibrary> library);
    void createStarsClient();
    // Gives the bus parser the words of CommandWords.h, so that a word's code
    // is the row of its slot; done before the bus client exists.
    static void useCommandTable();
    void reply(const SMsg& msg, const QString& text);

    Tarn* camera = nullptr;
    Stars* starsClient = nullptr;
    QMap<QString, QString> configMap;

    std::unique_ptr<camlib::CameraLibrary> cameraLibrary; // outlives camera
    std::unique_ptr<NodeLock> nodeLock;                   // held for the whole run
    QString nodeName;                                     // sender of the busy event
    bool stayUp = false;                                  // STARS_STAY_UP: log in again after a bus loss
    bool lostBus = false;                                 // the bus was lost at least once
    bool exiting = false;                                 // waiting for the picture in progress, then out
    int exitStatus = 0;                                   // of Exit(): 2 once the server refused the log-in for good
    bool configUnreadable = false;                        // config.cfg is there but cannot be read
};
