// Abort, progress and the outcome of pictures, seen from the bus.
#include "ImageMetadata.h"
#include "ServiceRig.h"

#include <QtTest>

#include <memory>

class tst_ServiceAbort : public ServiceRig
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void abortStopsEachSequence_data();
    void abortStopsEachSequence();
    void abortWithNothingRunning();
    void progressThroughASequence();
    void outcomeOfTheLastPicture_data();
    void outcomeOfTheLastPicture();
    void downloadOnlyAWaitingExposure_data();
    void downloadOnlyAWaitingExposure();
    void abortSaysWhetherTheCameraCancelled();
    void metadataDescribesEachImage_data();
    void metadataDescribesEachImage();

private:
    QString answer(const QString& command, const QString& text)
    {
        return QStringLiteral("cam1>term1 @%1 %2").arg(command, text);
    }
    // Sends command and expects the busy event and then its Ok reply.
    void startSequence(const QString& command);
};

void tst_ServiceAbort::init()
{
    QVERIFY(startServer());
}

void tst_ServiceAbort::cleanup()
{
    stopRig();
}

void tst_ServiceAbort::startSequence(const QString& command)
{
    term->send("term1>cam1 " + command);
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), answer(command, "Ok:"));
}

void tst_ServiceAbort::abortStopsEachSequence_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("command");
    // Abort once these files exist (the pictures before it are kept).
    QTest::addColumn<QStringList>("kept");

    const QStringList none;
    QTest::newRow("sequence, main frame") << QStringList{"SetExpTime 60000"} << "Exposure" << none;
    QTest::newRow("sequence, RBI flood") << QStringList{"SetRBIFlushes 2", "SetRBIExpTime 60000", "SetExpTime 10"}
                                         << "Exposure" << none;
    QTest::newRow("sequence, second picture")
        << QStringList{"SetImages 3", "SetExpTime 1500"} << "Exposure" << QStringList{"run0000-0000.raw"};
    QTest::newRow("single exposure") << QStringList{"SetExpTime 60000"} << "StartExposure" << none;
    QTest::newRow("RBI flush alone") << QStringList{"SetRBIFlushes 2", "SetRBIExpTime 60000"} << "RBIFlush" << none;
}

void tst_ServiceAbort::abortStopsEachSequence()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, command);
    QFETCH(QStringList, kept);

    QVERIFY(startService());
    QCOMPARE(ask("SetFileName run.raw"), answer("SetFileName", "Ok:"));
    for (const QString& setting : settings)
        QCOMPARE(ask(setting), answer(setting.section(' ', 0, 0), "Ok:"));
    startSequence(command);
    QTRY_COMPARE_WITH_TIMEOUT(service->files().filter(QRegularExpression("\\.raw$")), kept, 20000);
    QTest::qWait(100); // well inside the frame now being exposed

    term->send("term1>cam1 Abort");
    QCOMPARE(term->nextLine(), busy0);
    QCOMPARE(term->nextLine(), answer("Abort", "Ok:"));
    QVERIFY(term->receivesNothing(300)); // busy cleared once, no late step
    QCOMPARE(ask("IsBusy"), answer("IsBusy", "0"));
    QCOMPARE(service->files().filter(QRegularExpression("\\.raw$")), kept); // nothing partial, no temporary
    QCOMPARE(QDir(service->workDir()).entryList({"*.part"}, QDir::Files | QDir::Hidden), QStringList());
    QVERIFY2(service->log().contains("Abort from term1: "), qPrintable(service->log()));
    if (command != "RBIFlush") // RBI frames alone are no picture
        QCOMPARE(ask("GetLastOutcome"), answer("GetLastOutcome", "lost abort"));
    if (command == "StartExposure")
        QCOMPARE(ask("DownLoadImage"), answer("DownLoadImage", "Err: Busy"));

    // The camera is ready for the next exposure.
    for (const char* setting : {"SetRBIFlushes 0", "SetExpTime 10", "SetFileName next.raw"})
        QCOMPARE(ask(setting), answer(QString::fromLatin1(setting).section(' ', 0, 0), "Ok:"));
    startSequence("StartExposure");
    QCOMPARE(term->nextLine(20000), busy0);
    QCOMPARE(ask("DownLoadImage"), answer("DownLoadImage", "Ok:"));
    QCOMPARE(service->files().filter("next").filter(QRegularExpression("\\.raw$")).size(), 1);
}

void tst_ServiceAbort::abortWithNothingRunning()
{
    QVERIFY(startService());
    QCOMPARE(ask("Abort"), answer("Abort", "Ok:"));
    QVERIFY(term->receivesNothing(300));
    QVERIFY(!service->log().contains("Abort from"));
}

void tst_ServiceAbort::progressThroughASequence()
{
    QVERIFY(startService());
    QCOMPARE(ask("GetProgress"), answer("GetProgress", "0 0 idle 0"));
    for (const char* setting : {"SetImages 2", "SetRBIFlushes 1", "SetRBIExpTime 1500", "SetExpTime 1500"})
        QCOMPARE(ask(setting), answer(QString::fromLatin1(setting).section(' ', 0, 0), "Ok:"));
    startSequence("Exposure");
    // Each phase is seen in order, with the time left of a 1.5 s frame.
    QStringList seen;
    while (seen.isEmpty() || seen.last() != "1 exposing") {
        const QStringList words = ask("GetProgress").section(' ', 2).split(' ');
        QCOMPARE(words.size(), 4);
        QCOMPARE(words.at(1), QStringLiteral("2"));
        const int left = words.at(3).toInt();
        QVERIFY2(left >= 0 && left <= 1500, qPrintable(words.join(' ')));
        const QString step = words.at(0) + ' ' + words.at(2);
        if (words.at(2) != "between" && (seen.isEmpty() || seen.last() != step))
            seen << step;
        QVERIFY2(seen.size() <= 4, qPrintable(seen.join(", ")));
        QTest::qWait(50);
    }
    QCOMPARE(seen, (QStringList{"0 rbi", "0 exposing", "1 rbi", "1 exposing"}));
    QCOMPARE(term->waitForLine([](const QString& l) { return l == busy0; }, 20000), busy0);
    QCOMPARE(ask("GetProgress"), answer("GetProgress", "0 0 idle 0"));
}

void tst_ServiceAbort::outcomeOfTheLastPicture_data()
{
    QTest::addColumn<QString>("simFail");
    QTest::addColumn<bool>("removeImageDir");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("lastFile");
    // With OUTCOME_EVENTS 1, the event before the busy one; none by default.
    QTest::addColumn<QString>("event");

    const QString none;
    QTest::newRow("stored") << "" << false << "stored run0000-0000.raw"
                            << "run0000-0000.raw" << none;
    QTest::newRow("start fails") << "exposeFrame" << false << "lost exposeFrame"
                                 << "Err: No File" << none;
    QTest::newRow("read-out fails") << "grabRow@3" << false << "lost grabRow"
                                    << "Err: No File" << none;
    QTest::newRow("file cannot be created") << "" << true << "lost create"
                                            << "Err: No File" << none;
    QTest::newRow("stored, event") << "" << false << "stored run0000-0000.raw"
                                   << "run0000-0000.raw"
                                   << "_ImageStored run0000-0000.raw";
    QTest::newRow("read-out fails, event") << "grabRow@3" << false << "lost grabRow"
                                           << "Err: No File"
                                           << "_PictureLost 0 grabRow";
    QTest::newRow("file cannot be created, event") << "" << true << "lost create"
                                                   << "Err: No File"
                                                   << "_PictureLost 0 create";
}

void tst_ServiceAbort::outcomeOfTheLastPicture()
{
    QFETCH(QString, simFail);
    QFETCH(bool, removeImageDir);
    QFETCH(QString, outcome);
    QFETCH(QString, lastFile);
    QFETCH(QString, event);

    QTemporaryDir images;
    QMap<QString, QString> config{{"IMAGE_DIR", images.path()}};
    if (!simFail.isEmpty())
        config.insert("SIM_FAIL", simFail);
    if (!event.isEmpty())
        config.insert("OUTCOME_EVENTS", "1");
    QVERIFY(startService(config));
    QCOMPARE(ask("GetLastOutcome"), answer("GetLastOutcome", "none"));
    QCOMPARE(ask("GetLastFile"), answer("GetLastFile", "Err: No File"));
    if (removeImageDir)
        QVERIFY(images.remove());
    QCOMPARE(ask("SetFileName run.raw"), answer("SetFileName", "Ok:"));
    QCOMPARE(ask("SetExpTime 10"), answer("SetExpTime", "Ok:"));
    startSequence("Exposure");
    if (!event.isEmpty())
        QCOMPARE(term->nextLine(20000), "cam1>System " + event);
    QCOMPARE(term->nextLine(20000), busy0);
    QVERIFY(term->receivesNothing(200)); // by default no line beyond the busy events
    QCOMPARE(ask("GetLastOutcome"), answer("GetLastOutcome", outcome));
    QCOMPARE(ask("GetLastFile"), answer("GetLastFile", lastFile));
}

void tst_ServiceAbort::downloadOnlyAWaitingExposure_data()
{
    QTest::addColumn<QString>("simFail");
    QTest::addColumn<QStringList>("script"); // commands; "wait": until the busy event 0
    QTest::addColumn<QString>("outcome");    // GetLastOutcome before and after the refused download
    QTest::addColumn<int>("files");

    QTest::newRow("nothing exposed") << "" << QStringList{} << "none" << 0;
    QTest::newRow("failed start after a good frame")
        << "exposeFrame@2once"
        << QStringList{"StartExposure", "wait", "DownLoadImage", "SetExpTime 700", "StartExposure", "wait"}
        << "lost exposeFrame" << 1;
    QTest::newRow("Exposure and Abort in one write")
        << "" << QStringList{"StartExposure", "wait", "Exposure+Abort"} << "none" << 0;
    QTest::newRow("downloaded already") << "" << QStringList{"StartExposure", "wait", "DownLoadImage"}
                                        << "stored run0000-0000.raw" << 1;
    QTest::newRow("read-out failed") << "grabRow@3once" << QStringList{"StartExposure", "wait", "DownLoadImage"}
                                     << "lost grabRow" << 0;
}

// A DownLoadImage with no finished, unread, unreplaced single exposure in the
// camera is refused and changes nothing: no file, no event, the outcome kept.
void tst_ServiceAbort::downloadOnlyAWaitingExposure()
{
    QFETCH(QString, simFail);
    QFETCH(QStringList, script);
    QFETCH(QString, outcome);
    QFETCH(int, files);

    QMap<QString, QString> config{{"OUTCOME_EVENTS", "1"}};
    if (!simFail.isEmpty())
        config.insert("SIM_FAIL", simFail);
    startService(config);
    QCOMPARE(ask("SetFileName run.raw"), answer("SetFileName", "Ok:"));
    QCOMPARE(ask("SetExpTime 100"), answer("SetExpTime", "Ok:"));
    for (const QString& step : script) {
        if (step == "wait")
            QVERIFY(!term->waitForLine([](const QString& l) { return l == busy0; }, 20000).isNull());
        else if (step == "Exposure+Abort")
            term->send("term1>cam1 Exposure\nterm1>cam1 Abort");
        else
            ask(step);
    }
    QTest::qWait(300);
    term->clearPending();
    QCOMPARE(ask("GetLastOutcome"), answer("GetLastOutcome", outcome));
    QCOMPARE(ask("DownLoadImage"), answer("DownLoadImage", "Err: Busy"));
    QVERIFY(term->receivesNothing(300));
    QCOMPARE(ask("GetLastOutcome"), answer("GetLastOutcome", outcome));
    QCOMPARE(service->files().filter(QRegularExpression("\\.raw$")).size(), files);
}

void tst_ServiceAbort::abortSaysWhetherTheCameraCancelled()
{
    startService({{"SIM_FAIL", "cancelExposure"}});
    QCOMPARE(ask("SetExpTime 60000"), answer("SetExpTime", "Ok:"));
    startSequence("Exposure");
    QCOMPARE(ask("GetProgress").section(' ', 2, 3), QStringLiteral("0 1"));
    QTest::qWait(200); // inside the frame
    term->send("term1>cam1 Abort");
    QCOMPARE(term->nextLine(), busy0); // the sequence ends all the same
    QCOMPARE(term->nextLine(), answer("Abort", "Err: Cancel"));
    QCOMPARE(ask("GetLastOutcome"), answer("GetLastOutcome", "lost cancel"));
    QVERIFY(service->log().contains("did not confirm the cancel"));
    startSequence("StartExposure");
    QCOMPARE(ask("GetProgress").section(' ', 2, 4), QStringLiteral("0 1 exposing"));
}

void tst_ServiceAbort::metadataDescribesEachImage_data()
{
    QTest::addColumn<QString>("simFail");
    QTest::addColumn<QString>("imageMetadata");
    QTest::addColumn<bool>("coolerPowerRead");

    QTest::newRow("default") << ""
                             << "" << true;
    QTest::newRow("cooler power unreadable") << "getCoolerPower"
                                             << "" << false;
    QTest::newRow("turned off") << ""
                                << "0" << true;
}

void tst_ServiceAbort::metadataDescribesEachImage()
{
    QFETCH(QString, simFail);
    QFETCH(QString, imageMetadata);
    QFETCH(bool, coolerPowerRead);

    QMap<QString, QString> config;
    if (!simFail.isEmpty())
        config.insert("SIM_FAIL", simFail);
    if (!imageMetadata.isEmpty())
        config.insert("IMAGE_METADATA", imageMetadata);
    QVERIFY(startService(config));
    const QStringList settings{"SetTemp -12.5",  "SetBin 2 4 1",        "SetImages 2",
                               "SetExpTime 300", "SetFileName run.raw", "SetSeqFileNo 7"};
    for (const QString& setting : settings)
        QCOMPARE(ask(setting), answer(setting.section(' ', 0, 0), "Ok:"));
    const QString model = ask("GetModel").section(' ', 2);
    const QString serial = ask("GetSerialSTR").section(' ', 2);
    const QString libVersion = ask("GetLibVer").section(' ', 2);
    startSequence("Exposure");
    QCOMPARE(term->nextLine(20000), busy0);

    const QStringList images{"run0007-0000.raw", "run0008-0001.raw"};
    QCOMPARE(service->files().filter(QRegularExpression("\\.raw$")), images);
    if (imageMetadata == "0") {
        QCOMPARE(service->files().filter(".json"), QStringList());
        return;
    }
    QCOMPARE(service->files().filter(".json"), (QStringList{"run0007-0000.raw.json", "run0008-0001.raw.json"}));
    for (int picture = 0; picture < images.size(); ++picture) {
        QFile file(service->filePath(imagemeta::fileNameFor(images.at(picture))));
        QVERIFY(file.open(QIODevice::ReadOnly));
        imagemeta::ImageMetadata m;
        QString error;
        QVERIFY2(imagemeta::fromJson(file.readAll(), m, error), qPrintable(error));
        QCOMPARE(m.imageFile, images.at(picture));
        QCOMPARE((QList<int>{m.exposureTimeMs, m.frameType, m.hbin, m.vbin, m.width, m.height}),
                 (QList<int>{300, 0, 2, 4, 768, 256}));
        QCOMPARE((QList<int>{m.areaLrX - m.areaUlX, m.areaLrY - m.areaUlY}), (QList<int>{768, 256}));
        QCOMPARE(m.sequenceNumber, std::optional<int>(7 + picture));
        QCOMPARE(m.pictureNumber, picture);
        QCOMPARE(m.setPoint, std::optional<double>(-12.5));
        QCOMPARE(m.cameraModel, std::optional<QString>(model));
        QCOMPARE(m.serialNumber, std::optional<QString>(serial));
        QCOMPARE(m.libraryVersion, std::optional<QString>(libVersion));
        QCOMPARE(m.nodeName, QStringLiteral("cam1"));
        QVERIFY(!m.serviceVersion.isEmpty());
        QVERIFY(m.exposureStart.isValid() && m.exposureEnd.isValid());
        QVERIFY2(m.exposureStart.msecsTo(m.exposureEnd) >= 250, qPrintable(m.exposureStart.toString()));
        QVERIFY(m.exposureEnd <= QDateTime::currentDateTimeUtc());
        for (const imagemeta::CoolerReadings& r : {m.atStart, m.atEnd}) {
            QVERIFY(r.ccdTemperature && r.baseTemperature);
            QCOMPARE(r.coolerPower.has_value(), coolerPowerRead);
        }
    }
}

QTEST_GUILESS_MAIN(tst_ServiceAbort)
#include "tst_service_abort.moc"
