#include "Body.h"

#include "CameraLibrary.h"
#include "Stars.h"
#include "tarn.h"

#include <QDebug>

#include <cstdint>
#include <cstdlib>

Body::Body(std::unique_ptr<camlib::CameraLibrary> library) : QObject(nullptr)
{
    if (!ReadConfig())
        return; // idle until killed: nothing to serve without a configuration

    // Pixel, int and long sizes the raw files and the protocol rely on.
    qDebug() << "sizeof" << sizeof(std::uint16_t) << sizeof(std::int32_t) << sizeof(std::int32_t);

    tdiRate = 0;
    hbin = 1;
    vbin = 1;
    rbin = 1;
    rbiFlushes = 0;
    rbiExpTime = 500;
    isBusy = false;
    images = 1;
    expTime = 500;
    interval = 0.0;
    fileName = QStringLiteral("DefaultFileName.dat");

    createCamera(std::move(library));
    connect(camera, &Tarn::changedIsBusy, this, &Body::changedIsBusy, Qt::UniqueConnection);
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
    TarnOptions options;
    // CAMERA_SERIAL chooses the camera by its serial number, over CAMERA_NO.
    options.serial = configMap.value(QStringLiteral("CAMERA_SERIAL")).trimmed();
    camera = new Tarn(cameraNo, *cameraLibrary, options);
}

void Body::createStarsClient()
{
    starsClient = new Stars();

    QString keyFileName = QLatin1String(DefaultNodeName);
    nodeName = QLatin1String(DefaultNodeName);
    // A key that is present wins even with an empty value.
    if (configMap.contains(QStringLiteral("KEY_FILE_NAME")))
        keyFileName = configMap.value(QStringLiteral("KEY_FILE_NAME"));
    if (configMap.contains(QStringLiteral("NAME_ON_STARS")))
        nodeName = configMap.value(QStringLiteral("NAME_ON_STARS"));
    starsClient->ReadStarsKeys(keyFileName, nodeName);

    using AnsSlot = void (Body::*)(SMsg);
    struct Route
    {
        Stars::AskSignal ask;
        AnsSlot ans;
    };
    const Route routes[] = {
        {&Stars::AskIsBusy, &Body::AnsIsBusy},
        {&Stars::AskGetLibVer, &Body::AnsGetLibVer},
        {&Stars::AskGetModel, &Body::AnsGetModel},
        {&Stars::AskGetSerialSTR, &Body::AnsGetSerialSTR},
        {&Stars::AskGetHWRev, &Body::AnsGetHWRev},
        {&Stars::AskGetPixSize, &Body::AnsGetPixSize},
        {&Stars::AskGetArrayArea, &Body::AnsGetArrayArea},
        {&Stars::AskGetVisArea, &Body::AnsGetVisArea},
        {&Stars::AskSetTemp, &Body::AnsSetTemp},
        {&Stars::AskGetTemp, &Body::AnsGetTemp},
        {&Stars::AskGetCCDTemp, &Body::AnsGetCCDTemp},
        {&Stars::AskGetBaseTemp, &Body::AnsGetBaseTemp},
        {&Stars::AskGetCoolerPWR, &Body::AnsGetCoolerPWR},
        {&Stars::AskSetBin, &Body::AnsSetBin},
        {&Stars::AskGetBin, &Body::AnsGetBin},
        {&Stars::AskSetRBIFlushes, &Body::AnsSetRBIFlushes},
        {&Stars::AskGetRBIFlushes, &Body::AnsGetRBIFlushes},
        {&Stars::AskSetRBIExpTime, &Body::AnsSetRBIExpTime},
        {&Stars::AskGetRBIExpTime, &Body::AnsGetRBIExpTime},
        {&Stars::AskSetTDIRate, &Body::AnsSetTDIRate},
        {&Stars::AskGetTDIRate, &Body::AnsGetTDIRate},
        {&Stars::AskSetImages, &Body::AnsSetImages},
        {&Stars::AskSetExpTime, &Body::AnsSetExpTime},
        {&Stars::AskSetInterval, &Body::AnsSetInterval},
        {&Stars::AskSetFileName, &Body::AnsSetFileName},
        {&Stars::AskGetImages, &Body::AnsGetImages},
        {&Stars::AskGetExpTime, &Body::AnsGetExpTime},
        {&Stars::AskGetInterval, &Body::AnsGetInterval},
        {&Stars::AskGetFileName, &Body::AnsGetFileName},
        {&Stars::AskExposure, &Body::AnsExposure},
        {&Stars::AskStartExposure, &Body::AnsStartExposure},
        {&Stars::AskDownLoadImage, &Body::AnsDownLoadImage},
        {&Stars::AskRBIFlush, &Body::AnsRBIFlush},
        {&Stars::AskSetSeqFileNo, &Body::AnsSetSeqFileNo},
        {&Stars::AskGetSeqFileNo, &Body::AnsGetSeqFileNo},
        {&Stars::AskSetUseSeqFNo, &Body::AnsSetUseSeqFNo},
        {&Stars::AskGetUseSeqFNo, &Body::AnsGetUseSeqFNo},
    };
    for (const Route& route : routes)
        connect(starsClient, route.ask, this, route.ans, Qt::UniqueConnection);

    // A missing address or port is recorded as empty, as the file would hold it.
    starsClient->SetNewSVAddress(configMap[QStringLiteral("STARS_IP")]);
    starsClient->SetNewSVPort(configMap[QStringLiteral("STARS_PORT")]);
    starsClient->ConnectToServer();
    connect(starsClient, &Stars::Disconnected, this, &Body::Exit);
}

void Body::Exit()
{
    // The service ends with its bus connection; a supervisor restarts it.
    std::exit(0);
}
