// Image file names from the bus and a full disk: nothing is written outside
// the working directory, nothing that exists is overwritten or followed, no
// short file is left that could pass for an image, and each outcome is in
// the log.
#include "ServiceRig.h"

#include <QtTest>

#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString busy0 = QStringLiteral("cam1>System _ChangedIsBusy 0");
// Binning 8: 192 x 128 pixels.
constexpr qint64 SmallImage = 192 * 128 * 2;
constexpr int FileSizeLimitKb = 64;

// Everything under root, as "relative path" -> what it is: type, size,
// content digest and time for files, the target for links. Links are not
// followed.
QMap<QString, QString> snapshot(const QString& root)
{
    QMap<QString, QString> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
            out.insert(rel, QStringLiteral("vanished"));
        } else if (S_ISLNK(st.st_mode)) {
            out.insert(rel, QStringLiteral("link -> ") + QFile::symLinkTarget(path));
        } else if (S_ISDIR(st.st_mode)) {
            out.insert(rel, QStringLiteral("dir"));
        } else if (!S_ISREG(st.st_mode)) {
            out.insert(rel, QStringLiteral("special %1").arg(st.st_mode, 0, 8)); // never opened: a pipe would block
        } else {
            QFile f(path);
            const QByteArray digest = f.open(QIODevice::ReadOnly)
                                          ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex()
                                          : QByteArray("unreadable");
            out.insert(rel, QStringLiteral("file %1 %2 %3.%4")
                                .arg(st.st_size)
                                .arg(QString::fromLatin1(digest))
                                .arg(st.st_mtim.tv_sec)
                                .arg(st.st_mtim.tv_nsec));
        }
    }
    return out;
}

QString fileState(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("absent");
    return QStringLiteral("%1 %2 %3.%4").arg(st.st_mode).arg(st.st_size).arg(st.st_mtim.tv_sec).arg(st.st_mtim.tv_nsec);
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(contents) == contents.size();
}

} // namespace

class tst_FileSafety : public ServiceRig
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void namesFromTheBus_data();
    void namesFromTheBus();
    void fullDisk_data();
    void fullDisk();
    void workingDirectoryRemoved();
    void killedWhileWriting_data();
    void killedWhileWriting();

private:
    // Starts the service in <scratch>/work, with the shell commands `prelude`
    // run before it: a wrapper copies the set-up files in and starts it
    // there, so the scratch directory around it can be watched.
    void startInWorkDir(const QString& prelude = QString());
    QString ask(const QString& command, int timeoutMs = 10000) { return term->request("cam1", command, timeoutMs); }
    // A single exposure, then its download; returns the download's reply.
    QString exposeAndDownload();

    QString scratch;
    QString work;
};

void tst_FileSafety::initTestCase()
{
    QVERIFY(startServer());
}

void tst_FileSafety::cleanup()
{
    term.reset();
    service.reset();
}

void tst_FileSafety::startInWorkDir(const QString& prelude)
{
    // These cases account for every file by the image's size and name; the
    // metadata beside the images has its own tests.
    service->setConfigValue("IMAGE_METADATA", "0");
    service->setProgram("/bin/bash");
    service->setArguments(
        {"-c", prelude + "cp config.cfg cam1.key work/ && cd work && exec \"$0\"", QStringLiteral(STARSCAM_BIN)});
    QVERIFY(launchService());
}

QString tst_FileSafety::exposeAndDownload()
{
    term->send("term1>cam1 StartExposure");
    if (term->waitForLine([](const QString& l) { return l == busy0; }, 20000).isNull())
        return QStringLiteral("(the exposure did not end)");
    term->clearPending();
    return ask("DownLoadImage", 20000);
}

void tst_FileSafety::namesFromTheBus_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("reply");       // to DownLoadImage
    QTest::addColumn<QStringList>("written"); // new entries in the working directory
    QTest::addColumn<QString>("logged");

    const QString ok = QStringLiteral("@DownLoadImage Ok:");
    const QString refused = QStringLiteral("@DownLoadImage Err: Write File");
    auto writing = [](const QString& name) { return QStringLiteral("Writing file name  \"%1\"").arg(name); };
    auto taken = [](const QString& name) { return QStringLiteral("File exists, image written as \"%1\"").arg(name); };

    QTest::newRow("up one directory") << "../x.dat" << ok << QStringList{"x-0000.dat"} << writing("x-0000.dat");
    QTest::newRow("up several to /tmp") << "../../../../../tmp/evil.dat" << ok << QStringList{"evil-0000.dat"}
                                        << writing("evil-0000.dat");
    QTest::newRow("absolute path") << "/etc/passwd" << ok << QStringList{"passwd-0000."} << writing("passwd-0000.");
    QTest::newRow("through a linked directory")
        << "linkdir/x.dat" << ok << QStringList{"x-0000.dat"} << writing("x-0000.dat");
    QTest::newRow("..") << ".." << ok << QStringList{".-0000."} << writing(".-0000.");
    QTest::newRow(".") << "." << ok << QStringList{"-0000."} << writing("-0000.");
    QTest::newRow("empty") << "" << ok << QStringList{"-0000."} << writing("-0000.");
    QTest::newRow("directory only") << "sub/" << ok << QStringList{"-0000."} << writing("-0000.");
    QTest::newRow("with blanks") << "my  image.dat" << ok << QStringList{"my image-0000.dat"}
                                 << writing("my image-0000.dat");
    const QString longName = QString(296, QLatin1Char('a')) + QStringLiteral(".dat");
    QTest::newRow("300 characters") << longName << refused << QStringList{} << "File name too long - image not stored";
    QTest::newRow("taken by a file") << "taken.dat" << ok << QStringList{"taken-0000_1.dat"}
                                     << taken("taken-0000_1.dat");
    QTest::newRow("taken by a directory")
        << "dir.dat" << ok << QStringList{"dir-0000_1.dat"} << taken("dir-0000_1.dat");
    QTest::newRow("taken by a link to a file outside")
        << "link.dat" << ok << QStringList{"link-0000_1.dat"} << taken("link-0000_1.dat");
    QTest::newRow("taken by a dangling link")
        << "dangling.dat" << ok << QStringList{"dangling-0000_1.dat"} << taken("dangling-0000_1.dat");
    // Opened without O_EXCL a pipe would block the service for good.
    QTest::newRow("taken by a named pipe")
        << "pipe.dat" << ok << QStringList{"pipe-0000_1.dat"} << taken("pipe-0000_1.dat");
    QTest::newRow("taken with every alternative")
        << "full.dat" << refused << QStringList{}
        << "Cannot create \"full-0000.dat\": it and its alternatives _1 to _999 all exist - image not stored";
}

void tst_FileSafety::namesFromTheBus()
{
    QFETCH(QString, fileName);
    QFETCH(QString, reply);
    QFETCH(QStringList, written);
    QFETCH(QString, logged);

    newService();
    scratch = service->workDir();
    work = scratch + "/work";
    QVERIFY(QDir(scratch).mkpath("work/sub"));
    QVERIFY(QDir(scratch).mkpath("outside"));
    QVERIFY(writeFile(scratch + "/victim.dat", "victim"));
    QVERIFY(writeFile(scratch + "/outside/keep.txt", "keep"));
    QVERIFY(writeFile(work + "/taken-0000.dat", "precious"));
    QVERIFY(QDir(work).mkdir("dir-0000.dat"));
    QVERIFY(QFile::link("../victim.dat", work + "/link-0000.dat"));
    QVERIFY(QFile::link("../created-through-link.dat", work + "/dangling-0000.dat"));
    QVERIFY(QFile::link("../outside", work + "/linkdir"));
    QCOMPARE(::mkfifo(QFile::encodeName(work + "/pipe-0000.dat").constData(), 0644), 0);
    if (fileName == "full.dat") {
        // A thousand files: only where the row needs them.
        QVERIFY(writeFile(work + "/full-0000.dat", "full"));
        for (int n = 1; n <= 999; ++n)
            QVERIFY(writeFile(work + QStringLiteral("/full-0000_%1.dat").arg(n), "full"));
    }
    const QString etc = fileState("/etc/passwd") + ' ' + fileState("/etc/passwd-0000.");
    const QString tmp = fileState("/tmp/evil-0000.dat");

    startInWorkDir();
    if (QTest::currentTestFailed())
        return;
    const QMap<QString, QString> before = snapshot(scratch);

    QCOMPARE(ask("SetUseSeqFNo 0"), QStringLiteral("cam1>term1 @SetUseSeqFNo Ok:"));
    QCOMPARE(ask("SetBin 8 8 8"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    QCOMPARE(ask("SetExpTime 0"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetFileName " + fileName), QStringLiteral("cam1>term1 @SetFileName Ok:"));
    QCOMPARE(exposeAndDownload(), "cam1>term1 " + reply);

    // Only the new image, in the working directory; everything else as it was.
    QMap<QString, QString> after = snapshot(scratch);
    for (const QString& name : written) {
        const QString rel = "work/" + name;
        QVERIFY2(after.contains(rel), qPrintable(QStringList(after.keys()).join(' ')));
        QVERIFY2(after.value(rel).startsWith(QStringLiteral("file %1 ").arg(SmallImage)), qPrintable(after.value(rel)));
        after.remove(rel);
    }
    QCOMPARE(after, before);
    QCOMPARE(fileState("/etc/passwd") + ' ' + fileState("/etc/passwd-0000."), etc);
    QCOMPARE(fileState("/tmp/evil-0000.dat"), tmp);
    QVERIFY2(service->log().contains(logged), qPrintable(service->log().right(3000)));

    QCOMPARE(ask("IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"));
    QVERIFY(service->isRunning());
    term.reset();
    service.reset();
}

void tst_FileSafety::fullDisk_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("file-size limit") << false;
    QTest::newRow("small tmpfs") << true;
}

void tst_FileSafety::fullDisk()
{
    QFETCH(bool, tmpfs);
    newService();
    scratch = service->workDir();
    work = scratch + "/work";
    QVERIFY(QDir(scratch).mkdir("work"));
    QString prelude;
    bool mounted = false;
    if (tmpfs) {
        if (::geteuid() != 0)
            QSKIP("mounting a tmpfs needs root");
        if (::mount("tmpfs", QFile::encodeName(work).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=128k,mode=0755")
            != 0)
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1").arg(qt_error_string(errno))));
        mounted = true;
    } else {
        // Writing past the limit fails with EFBIG instead of killing the process.
        prelude = QStringLiteral("trap '' XFSZ; ulimit -f %1; ").arg(FileSizeLimitKb);
    }
    // Stop the service before the mount goes, and the mount before the
    // scratch directory does.
    auto unmount = qScopeGuard([&] {
        term.reset();
        if (service)
            service->kill();
        if (mounted)
            ::umount2(QFile::encodeName(work).constData(), MNT_DETACH);
        service.reset();
    });
    startInWorkDir(prelude);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(ask("SetUseSeqFNo 0"), QStringLiteral("cam1>term1 @SetUseSeqFNo Ok:"));
    QCOMPARE(ask("SetExpTime 0"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetBin 4 4 4"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    QCOMPARE(ask("SetFileName big.dat"), QStringLiteral("cam1>term1 @SetFileName Ok:"));
    QCOMPARE(exposeAndDownload(), QStringLiteral("cam1>term1 @DownLoadImage Err: Write File"));
    QVERIFY(!QFileInfo::exists(work + "/big-0000.dat"));
    const QString failure = QStringLiteral("Writing \"big-0000.dat\" failed: %1 - file removed, image not stored")
                                .arg(tmpfs ? "No space left on device" : "File too large");
    QVERIFY2(service->log().contains(failure), qPrintable(service->log().right(3000)));

    // A sequence whose pictures cannot be stored still ends, leaving nothing.
    QCOMPARE(ask("SetImages 2"), QStringLiteral("cam1>term1 @SetImages Ok:"));
    QCOMPARE(ask("SetFileName seq.dat"), QStringLiteral("cam1>term1 @SetFileName Ok:"));
    term->send("term1>cam1 Exposure");
    QVERIFY(!term->waitForLine([](const QString& l) { return l == busy0; }, 30000).isNull());
    QVERIFY(QDir(work).entryList({"seq*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
    QCOMPARE(service->log().count("file removed, image not stored"), 3);

    // A smaller image fits, whole.
    QCOMPARE(ask("SetBin 8 8 8"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    QCOMPARE(ask("SetFileName small.dat"), QStringLiteral("cam1>term1 @SetFileName Ok:"));
    QCOMPARE(exposeAndDownload(), QStringLiteral("cam1>term1 @DownLoadImage Ok:"));
    // The picture number is the one the sequence before left: 2.
    QCOMPARE(QFileInfo(work + "/small-0002.dat").size(), SmallImage);

    // Nothing short that looks like an image.
    for (const QString& name : QDir(work).entryList(QDir::Files | QDir::Hidden)) {
        if (name == "config.cfg" || name == "cam1.key" || name == ".cam1.lock")
            continue;
        QCOMPARE(QFileInfo(work + '/' + name).size(), SmallImage);
    }
    QCOMPARE(ask("IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"));
    QVERIFY(service->isRunning());
}

void tst_FileSafety::workingDirectoryRemoved()
{
    // The directory the service runs in is deleted under it: an image then
    // has nowhere to go, and must not go anywhere else.
    newService();
    scratch = service->workDir();
    work = scratch + "/work";
    QVERIFY(QDir(scratch).mkdir("work"));
    startInWorkDir();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(ask("SetExpTime 0"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetBin 8 8 8"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    QVERIFY(QDir(work).removeRecursively());
    const QMap<QString, QString> before = snapshot(scratch);
    QCOMPARE(exposeAndDownload(), QStringLiteral("cam1>term1 @DownLoadImage Err: Write File"));
    QCOMPARE(snapshot(scratch), before);
    QVERIFY2(service->log().contains("Cannot create \"DefaultFileName0000-0000.dat\" : No such file or directory"),
             qPrintable(service->log().right(2000)));
    QCOMPARE(ask("IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"));
    term.reset();
    service.reset();
}

void tst_FileSafety::killedWhileWriting_data()
{
    QTest::addColumn<int>("bin");
    QTest::addColumn<int>("rounds");
    QTest::addColumn<int>("maxDelayMs"); // kills land within this time after the sequence starts
    QTest::newRow("8 MiB images") << 1 << 16 << 1500;
    QTest::newRow("128 KiB images") << 8 << 24 << 400;
}

void tst_FileSafety::killedWhileWriting()
{
    // The service is killed at random moments of a long sequence: under an
    // image name there is only ever a whole image, and each start removes
    // what the run before left half written (but not another node's).
    QFETCH(int, bin);
    QFETCH(int, rounds);
    QFETCH(int, maxDelayMs);
    constexpr int Side = 2048;
    const qint64 imageSize = qint64(Side / bin) * (Side / bin) * 2;

    newService();
    service->setConfigValue("CAMERA_LIBRARY", "sim");
    service->setConfigValue("SIM_WIDTH", QString::number(Side));
    service->setConfigValue("SIM_HEIGHT", QString::number(Side));
    scratch = service->workDir();
    work = scratch + "/work";
    QVERIFY(QDir(scratch).mkdir("work"));
    const QString othersTemporary = work + "/.cam2.x-0000.dat.part";
    QVERIFY(writeFile(othersTemporary, "another node's"));

    int whole = 0, leftOver = 0;
    auto inspect = [&] {
        for (const QString& name : QDir(work).entryList(QDir::Files | QDir::Hidden)) {
            if (name.startsWith(".cam1.") && name.endsWith(".part"))
                ++leftOver;
            else if (name.startsWith('r'))
                QVERIFY2(QFileInfo(work + '/' + name).size() == imageSize, qPrintable(name));
        }
    };
    for (int round = 0; round < rounds; ++round) {
        startInWorkDir();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(QDir(work).entryList({".cam1.*.part"}, QDir::Files | QDir::Hidden).isEmpty());
        QCOMPARE(ask("SetExpTime 0"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
        QCOMPARE(ask(QStringLiteral("SetBin %1 %1 %1").arg(bin)), QStringLiteral("cam1>term1 @SetBin Ok:"));
        QCOMPARE(ask("SetImages 1000"), QStringLiteral("cam1>term1 @SetImages Ok:"));
        QCOMPARE(ask(QStringLiteral("SetFileName r%1_.dat").arg(round)), QStringLiteral("cam1>term1 @SetFileName Ok:"));
        QCOMPARE(ask("Exposure"), QStringLiteral("cam1>term1 @Exposure Ok:"));
        QTest::qWait(int(QRandomGenerator::global()->bounded(maxDelayMs)));
        term.reset();
        service->kill();
        whole += QDir(work).entryList({QStringLiteral("r%1_*").arg(round)}, QDir::Files).size();
        inspect();
    }
    startInWorkDir();
    QVERIFY(QDir(work).entryList({".cam1.*.part"}, QDir::Files | QDir::Hidden).isEmpty());
    QVERIFY(QFileInfo::exists(othersTemporary));
    qInfo().noquote() << QStringLiteral("%1 kills: %2 whole images, %3 kills while writing, no short file")
                             .arg(rounds)
                             .arg(whole)
                             .arg(leftOver);
}

QTEST_GUILESS_MAIN(tst_FileSafety)
#include "tst_filesafety.moc"
