#include "ImageFile.h"
#include "RenameNoReplace.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {
bool renameFlagMissing = false;
QByteArray takenMeanwhile; // created just before the first rename to it, as by another writer
} // namespace

// Linked in place of the library's own, so that a test can take the link()
// path of a file system without renameat2's no-replace flag, and have a name
// taken between the look and the rename.
int imagefile::renameNoReplace(int dirFd, const char* from, const char* to)
{
    if (takenMeanwhile == to) {
        takenMeanwhile.clear();
        ::close(::openat(dirFd, to, O_WRONLY | O_CREAT | O_EXCL, 0644));
    }
    if (renameFlagMissing) {
        errno = EINVAL;
        return -1;
    }
    return int(::syscall(SYS_renameat2, dirFd, from, dirFd, to, RENAME_NOREPLACE));
}

class tst_ImageFile : public QObject
{
    Q_OBJECT

private slots:
    void composesName_data();
    void composesName();
    void nextSequenceNumber_data();
    void nextSequenceNumber();
    void alternativeNames_data();
    void alternativeNames();
    void temporaryNames_data();
    void temporaryNames();
    void commitsUnderAFreeName_data();
    void commitsUnderAFreeName();
    void failuresLeaveNothing_data();
    void failuresLeaveNothing();
    void removesOnlyOwnTemporaries();
};

void tst_ImageFile::composesName_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("useSeq");
    QTest::addColumn<int>("seqBefore");
    QTest::addColumn<int>("imageIndex");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("seqAfter");

    QTest::newRow("first") << "DefaultFileName.dat" << true << 0 << 0 << "DefaultFileName0000-0000.dat" << 1;
    QTest::newRow("second") << "DefaultFileName.dat" << true << 1 << 1 << "DefaultFileName0001-0001.dat" << 2;
    QTest::newRow("no sequence number") << "DefaultFileName.dat" << false << 7 << 2 << "DefaultFileName-0002.dat" << 7;
    QTest::newRow("wide sequence number")
        << "DefaultFileName.dat" << true << 12345 << 3 << "DefaultFileName12345-0003.dat" << 12346;
    QTest::newRow("directory dropped, last dot splits")
        << "data/run.x.raw" << true << 0 << 0 << "run.x0000-0000.raw" << 1;
    QTest::newRow("no dot keeps a trailing dot") << "frame" << true << 0 << 0 << "frame0000-0000." << 1;
    QTest::newRow("parent directory dropped") << "../x.dat" << false << 0 << 4 << "x-0004.dat" << 0;
    QTest::newRow("absolute path dropped") << "/etc/passwd" << false << 0 << 0 << "passwd-0000." << 0;
    QTest::newRow("empty name") << "" << false << 0 << 0 << "-0000." << 0;
    QTest::newRow("negative numbers") << "a.b" << true << -3 << -1 << "a-003--001.b" << -2;
}

void tst_ImageFile::composesName()
{
    QFETCH(QString, fileName);
    QFETCH(bool, useSeq);
    QFETCH(int, seqBefore);
    QFETCH(int, imageIndex);
    QFETCH(QString, name);
    QFETCH(int, seqAfter);
    int seq = seqBefore;
    QCOMPARE(imagefile::composeName(fileName, useSeq, seq, imageIndex), name);
    QCOMPARE(seq, seqAfter);
}

void tst_ImageFile::nextSequenceNumber_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("next");
    const QStringList mixed{
        "run0003-0000.dat",  "run0012-0001_2.dat", "run0099-0000.dat.json",       "run0050-0000.fits",
        "run00071-0000.dat", "xrun0060-0000.dat",  ".cam1.run0077-0000.dat.part", "run0011-0000.dat"};
    QTest::newRow("none yet") << "run.dat" << QStringList{"other0005-0000.dat"} << 0;
    QTest::newRow("highest image of the name") << "run.dat" << mixed << 13;
    QTest::newRow("path and other suffix") << "/data/run.fits" << mixed << 51;
    QTest::newRow("without sequence number") << "run.dat" << QStringList{"run-0004.dat"} << 0;
    QTest::newRow("no suffix") << "frame" << QStringList{"frame0002-0000.", "frame0009-0000.dat"} << 3;
    QTest::newRow("pattern characters in the base")
        << "a+b.dat" << QStringList{"a+b0004-0000.dat", "aab0008-0000.dat"} << 5;
}

void tst_ImageFile::nextSequenceNumber()
{
    QFETCH(QString, fileName);
    QFETCH(QStringList, names);
    QFETCH(int, next);
    QCOMPARE(imagefile::nextSeqFileNo(names, fileName), next);
}

void tst_ImageFile::alternativeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("alternative");
    QTest::newRow("suffix kept") << "run0000-0000.dat" << 1 << "run0000-0000_1.dat";
    QTest::newRow("trailing dot") << "frame0000-0000." << 12 << "frame0000-0000_12.";
    QTest::newRow("no dot") << "x" << 2 << "x_2";
}

void tst_ImageFile::alternativeNames()
{
    QFETCH(QString, name);
    QFETCH(int, n);
    QFETCH(QString, alternative);
    QCOMPARE(imagefile::alternativeName(name, n), alternative);
}

namespace {

// A test image whose bytes tell every row and column apart.
std::vector<std::uint16_t> testImage(int width, int height)
{
    std::vector<std::uint16_t> pixels(std::size_t(width) * std::size_t(height));
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = std::uint16_t(i * 7919u + 1u);
    return pixels;
}

QByteArray littleEndian(const std::vector<std::uint16_t>& pixels)
{
    QByteArray bytes;
    for (std::uint16_t p : pixels) {
        bytes.append(char(p & 0xff));
        bytes.append(char(p >> 8));
    }
    return bytes;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// Puts `what` ("file", "dir", "link" to a file outside, "dangling" link) at path.
bool place(const QString& what, const QString& path, const QString& outside)
{
    if (what == "dir")
        return QDir().mkdir(path);
    if (what == "link")
        return QFile::link(outside, path);
    if (what == "dangling")
        return QFile::link(outside + ".gone", path);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("keep") == 4;
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

void tst_ImageFile::temporaryNames_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("temporary");
    QTest::newRow("node name") << "cam1"
                               << "DefaultFileName0000-0000.dat"
                               << ".cam1.DefaultFileName0000-0000.dat.part";
    QTest::newRow("default node") << ""
                                  << "x.dat"
                                  << ".QtTarn.x.dat.part";
    QTest::newRow("dots and slashes in the node") << "a.b/c"
                                                  << "x.dat"
                                                  << ".a_b_c.x.dat.part";
    QTest::newRow("shortened to fit") << "cam1" << QString(260, 'n') << ".cam1." + QString(244, 'n') + ".part";
}

void tst_ImageFile::temporaryNames()
{
    QFETCH(QString, node);
    QFETCH(QString, name);
    QFETCH(QString, temporary);
    QCOMPARE(imagefile::temporaryName(node, name), temporary);
}

void tst_ImageFile::commitsUnderAFreeName_data()
{
    QTest::addColumn<QStringList>("inTheWay"); // "kind:name"
    QTest::addColumn<bool>("linkPath");
    QTest::addColumn<bool>("withMetadata");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("metadataStored");

    for (bool linkPath : {false, true}) {
        const char* path = linkPath ? " (link)" : " (rename)";
        auto row = [&](const char* tag) -> QTestData& { return QTest::newRow(qPrintable(QString(tag) + path)); };
        row("free") << QStringList{} << linkPath << true << "img-0000.dat" << true;
        row("free, no metadata") << QStringList{} << linkPath << false << "img-0000.dat" << false;
        row("taken by a file") << QStringList{"file:img-0000.dat"} << linkPath << true << "img-0000_1.dat" << true;
        row("taken twice") << QStringList{"file:img-0000.dat", "file:img-0000_1.dat"} << linkPath << true
                           << "img-0000_2.dat" << true;
        row("taken by a directory") << QStringList{"dir:img-0000.dat"} << linkPath << true << "img-0000_1.dat" << true;
        row("taken by a link") << QStringList{"link:img-0000.dat"} << linkPath << true << "img-0000_1.dat" << true;
        row("taken by a dangling link") << QStringList{"dangling:img-0000.dat"} << linkPath << true << "img-0000_1.dat"
                                        << true;
        // A metadata file left alone (another image's, or a crash's) takes the name too.
        row("metadata name taken") << QStringList{"file:img-0000.dat.json"} << linkPath << true << "img-0000_1.dat"
                                   << true;
        row("metadata name taken, no metadata")
            << QStringList{"dangling:img-0000.dat.json"} << linkPath << false << "img-0000_1.dat" << false;
        row("both taken") << QStringList{"file:img-0000.dat", "file:img-0000.dat.json", "file:img-0000_1.dat.json"}
                          << linkPath << true << "img-0000_2.dat" << true;
        row("old metadata name in the way")
            << QStringList{"file:img-0000.json"} << linkPath << true << "img-0000.dat" << true;
        // The image is never dropped for its metadata.
        row("metadata temporary in the way")
            << QStringList{"file:.cam1.img-0000.dat.json.part"} << linkPath << true << "img-0000.dat" << false;
        if (linkPath)
            continue; // the next rows need the rename call
        row("image name taken meanwhile")
            << QStringList{"meanwhile:img-0000.dat"} << linkPath << true << "img-0000_1.dat" << true;
        row("metadata name taken meanwhile")
            << QStringList{"meanwhile:img-0000.dat.json"} << linkPath << true << "img-0000_1.dat" << true;
    }
}

void tst_ImageFile::commitsUnderAFreeName()
{
    QFETCH(QStringList, inTheWay);
    QFETCH(bool, linkPath);
    QFETCH(bool, withMetadata);
    QFETCH(QString, stored);
    QFETCH(bool, metadataStored);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("images"));
    const QString images = dir.filePath("images");
    const QString outside = dir.filePath("outside.dat");
    QVERIFY(place("file", outside, QString()));
    QStringList meanwhile;
    for (const QString& item : inTheWay) {
        if (item.startsWith("meanwhile:"))
            meanwhile << item.section(':', 1);
        else
            QVERIFY(place(item.section(':', 0, 0), images + '/' + item.section(':', 1), outside));
    }
    const QStringList before = entries(images);
    takenMeanwhile = meanwhile.value(0).toUtf8();

    // 600 rows: more than one batch of rows.
    const std::vector<std::uint16_t> pixels = testImage(5, 600);
    imagefile::MetadataFor metadata;
    if (withMetadata)
        metadata = [](const QString& finalName) { return "describes " + finalName.toUtf8(); };
    renameFlagMissing = linkPath;
    const imagefile::CommitResult result =
        imagefile::commitImage(images, "img-0000.dat", "cam1", pixels.data(), 5, 600, metadata);
    renameFlagMissing = false;

    QVERIFY(result.ok());
    QCOMPARE(result.name, stored);
    QCOMPARE(result.metadataStored, metadataStored);
    QCOMPARE(result.metadataError, withMetadata && !metadataStored ? EEXIST : 0);
    QCOMPARE(readAll(images + '/' + stored), littleEndian(pixels));
    // Only the image and its metadata are new: no temporary, nothing in the way changed.
    QStringList expected = before + meanwhile;
    expected.append(stored);
    if (metadataStored) {
        expected.append(stored + ".json");
        QCOMPARE(readAll(images + '/' + stored + ".json"), "describes " + stored.toUtf8());
    }
    expected.sort();
    QCOMPARE(entries(images), expected);
    QCOMPARE(readAll(outside), QByteArray("keep"));
    for (const QString& item : inTheWay) {
        if (item.startsWith("file:"))
            QCOMPARE(readAll(images + '/' + item.section(':', 1)), QByteArray("keep"));
    }
}

void tst_ImageFile::failuresLeaveNothing_data()
{
    QTest::addColumn<QString>("dir"); // relative to a scratch directory
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("error");

    const int create = int(imagefile::CommitStep::Create);
    QTest::newRow("no such directory") << "missing"
                                       << "img.dat"
                                       << "" << create << ENOENT;
    QTest::newRow("a path, not a name") << "."
                                        << "sub/img.dat"
                                        << "" << create << EINVAL;
    QTest::newRow("name too long") << "." << QString(256, 'n') << "" << create << ENAMETOOLONG;
    QTest::newRow("temporary in the way") << "."
                                          << "img.dat"
                                          << "temporary" << create << EEXIST;
    QTest::newRow("every alternative taken") << "."
                                             << "img.dat"
                                             << "all taken" << int(imagefile::CommitStep::Rename) << EEXIST;
    QTest::newRow("file-size limit") << "."
                                     << "img.dat"
                                     << "size limit" << int(imagefile::CommitStep::Write) << EFBIG;
}

void tst_ImageFile::failuresLeaveNothing()
{
    QFETCH(QString, dir);
    QFETCH(QString, name);
    QFETCH(QString, setUp);
    QFETCH(int, step);
    QFETCH(int, error);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString images = scratch.filePath(dir);
    if (setUp == "temporary")
        QVERIFY(place("file", images + '/' + imagefile::temporaryName("cam1", name), QString()));
    if (setUp == "all taken") {
        QVERIFY(place("file", images + '/' + name, QString()));
        for (int n = 1; n <= 999; ++n)
            QVERIFY(place("file", images + '/' + imagefile::alternativeName(name, n), QString()));
    }
    struct rlimit oldLimit;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &oldLimit); });
    if (setUp == "size limit") {
        std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of ending the process
        struct rlimit limit = oldLimit;
        limit.rlim_cur = 4096;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    const QStringList before = entries(scratch.path());

    const std::vector<std::uint16_t> pixels = testImage(64, 64);
    const imagefile::CommitResult result = imagefile::commitImage(images, name, "cam1", pixels.data(), 64, 64);
    restore.dismiss();
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);

    QCOMPARE(int(result.failed), step);
    QCOMPARE(result.error, error);
    QCOMPARE(entries(scratch.path()), before);
}

void tst_ImageFile::removesOnlyOwnTemporaries()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString outside = dir.filePath("outside");
    QVERIFY(QDir().mkdir(outside));
    QVERIFY(place("file", outside + "/target.dat", QString()));
    const QString images = dir.filePath("images");
    QVERIFY(QDir().mkdir(images));
    const QStringList own{".cam1.a-0000.dat.part", ".cam1.b-0001.dat.part"};
    for (const QString& name : own)
        QVERIFY(place("file", images + '/' + name, QString()));
    QVERIFY(place("file", images + "/.cam2.a-0000.dat.part", QString()));   // another node's
    QVERIFY(place("file", images + "/.cam1_x.a-0000.dat.part", QString())); // node "cam1.x"
    QVERIFY(place("file", images + "/.cam1.a-0000.dat", QString()));        // not a temporary
    QVERIFY(place("file", images + "/a-0000.dat", QString()));              // an image
    QVERIFY(place("dir", images + "/.cam1.d.part", QString()));
    QVERIFY(place("link", images + "/.cam1.l.part", outside + "/target.dat"));
    const QStringList before = entries(images);

    QCOMPARE(imagefile::removeTemporaries(images, "cam1"), own.size());
    QStringList expected = before;
    for (const QString& name : own)
        expected.removeOne(name);
    QCOMPARE(entries(images), expected);
    QCOMPARE(readAll(outside + "/target.dat"), QByteArray("keep"));
    QCOMPARE(imagefile::removeTemporaries(dir.filePath("missing"), "cam1"), -1);
}

QTEST_APPLESS_MAIN(tst_ImageFile)
#include "tst_imagefile.moc"
