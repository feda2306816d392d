// The service under a long mixed stream of lines while an exposure sequence
// runs: every line gets the answer the rules give it, in order, the
// sequence's images are all there and complete, the memory the process holds
// stays flat, and it still answers afterwards.
#include "ServiceRig.h"
#include "SoakStream.h"
#include "TestWait.h"

#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Answers owed at most before the tester waits; keeps every buffer on the
// way bounded, so what grows is the service's own memory.
constexpr int Window = 400;
constexpr qint64 ImageBytes = qint64(1536 / SoakStream::Bin) * (1024 / SoakStream::Bin) * 2;
// What the resident size may grow by between 20 % and 100 % of the stream.
constexpr qint64 RssGrowthLimitKb = 4 * 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool AddressSanitized = true;
#else
constexpr bool AddressSanitized = false;
#endif
#else
constexpr bool AddressSanitized = false;
#endif

// A sanitized build runs some twenty times slower: a quarter of the stream
// still holds every kind of line many times over.
constexpr qint64 StreamLines = AddressSanitized ? 25000 : 100000;
// AddressSanitizer holds freed memory back in quarantine, so there the
// resident size grows whatever the service does; leaks are its own job.
constexpr bool ResidentSizeMeaningful = !AddressSanitized;

qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT

private slots:
    void mixedStreamWhileSequenceRuns_data();
    void mixedStreamWhileSequenceRuns();
};

void tst_Soak::mixedStreamWhileSequenceRuns_data()
{
    QTest::addColumn<bool>("direct");
    QTest::newRow("through the bus server") << false;
    QTest::newRow("raw bytes from the server's side") << true;
}

void tst_Soak::mixedStreamWhileSequenceRuns()
{
    QFETCH(bool, direct);
    const QStringList keys{"s1", "s2", "s3", "s4", "s5"};

    // Whatever the tester receives goes to `sink`: first the set-up replies,
    // then the stream's model. Declared first, so it outlives the sockets.
    std::function<void(const QString&)> sink;
    std::function<void(const QByteArray&)> send;

    // Direct: the peer plays the server and no term node is needed.
    ServiceRig rig;
    rig.withTerm = !direct;
    QVERIFY(direct ? rig.startPeer() : rig.startServer());
    ServiceProcess& service = rig.newService();
    service.setKeys(keys);
    if (direct) {
        RawStarsPeer& peer = *rig.peer;
        connect(&peer, &RawStarsPeer::lineReceived, this,
                [&](const QByteArray& line) { sink(QString::fromLatin1(line)); });
        send = [&](const QByteArray& bytes) { peer.write(bytes); };
        QVERIFY(rig.launchServiceOnPeer());
    } else {
        QVERIFY(rig.launchService());
        BusNode& term = *rig.term;
        connect(&term, &BusNode::lineReceived, this, [&](const QString& line) {
            term.clearPending();
            sink(line);
        });
        send = [&](const QByteArray& bytes) { term.sendRaw(bytes); };
    }

    QStringList received;
    sink = [&](const QString& line) { received << line; };
    auto exchange = [&](const QString& command) {
        received.clear();
        send("term1>cam1 " + command.toLatin1() + '\n');
        TestWait::until([&] { return !received.isEmpty(); }, 10000);
        return received.value(0);
    };

    // The kept settings, and the replies that never change.
    for (const QString& command : SoakStream::settingCommands())
        QCOMPARE(exchange(command), QStringLiteral("cam1>term1 @%1 Ok:").arg(command.section(' ', 0, 0)));
    QMap<QString, QString> fixed;
    for (const QString& query : SoakStream::fixedQueries()) {
        const QString reply = exchange(query);
        QVERIFY2(reply.startsWith("cam1>term1 @" + query + ' ') && !reply.contains("Err"), qPrintable(reply));
        fixed.insert(query, reply.mid(QStringLiteral("cam1>term1 ").size()));
    }

    SoakStream stream(direct ? SoakStream::Route::Direct : SoakStream::Route::ThroughServer, 20240611);
    stream.setFixedReplies(fixed);
    sink = [&](const QString& line) { stream.take(line); };
    auto settled = [&](int owed) {
        return stream.outstanding() <= owed || !stream.error().isEmpty() || !service.isRunning();
    };

    QByteArray opening;
    stream.appendOpening(opening);
    send(opening);

    // Cut the stream into writes of random size, so lines arrive split at
    // any byte and several at once.
    QRandomGenerator chunks(99);
    qint64 rssAt20 = -1;
    qint64 rssPeak = 0;
    while (stream.linesSent() < StreamLines) {
        QByteArray batch;
        while (stream.outstanding() < Window && stream.linesSent() < StreamLines && batch.size() < 256 * 1024)
            stream.appendLine(batch);
        for (int pos = 0; pos < batch.size();) {
            const int n = 1 + int(chunks.bounded(8192));
            send(batch.mid(pos, n));
            pos += n;
        }
        QVERIFY2(TestWait::until([&] { return settled(Window / 2); }, 30000),
                 qPrintable(QStringLiteral("no answers for 30 s, %1 owed").arg(stream.outstanding())));
        QVERIFY2(stream.error().isEmpty(), qPrintable(stream.error()));
        QVERIFY2(service.isRunning(), qPrintable(service.log().right(2000)));
        const qint64 rss = residentKb(service.processId());
        rssPeak = qMax(rssPeak, rss);
        if (rssAt20 < 0 && stream.linesSent() >= StreamLines / 5)
            rssAt20 = rss;
    }
    QVERIFY(TestWait::until([&] { return settled(0); }, 30000));
    QVERIFY2(stream.error().isEmpty(), qPrintable(stream.error()));
    QCOMPARE(stream.outstanding(), 0);
    const qint64 rssAtEnd = residentKb(service.processId());

    // Whatever sequence the stream started ends.
    QVERIFY(TestWait::until([&] { return !stream.isBusy() || !stream.error().isEmpty(); }, 60000));
    QVERIFY2(stream.error().isEmpty(), qPrintable(stream.error()));

    // The opening sequence ran during the stream and refused the starts.
    QVERIFY(stream.sequencesStarted() >= 1);
    QVERIFY(stream.refusedWhileBusy() >= 5);

    // No image lost, none short.
    QStringList images;
    for (const QString& name : service.files()) {
        if (name.startsWith("soak") && !name.endsWith(".json")) {
            images << name;
            QCOMPARE(QFileInfo(service.filePath(name)).size(), ImageBytes);
        }
    }
    QCOMPARE(qint64(images.size()), stream.expectedImageFiles());

    QVERIFY2(rssAt20 > 0 && rssAtEnd > 0, "cannot read the service's resident size");
    if (!ResidentSizeMeaningful)
        qInfo("resident size not checked: built with AddressSanitizer");
    else
        QVERIFY2(rssAtEnd - rssAt20 < RssGrowthLimitKb,
                 qPrintable(QStringLiteral("resident size grew from %1 kB to %2 kB").arg(rssAt20).arg(rssAtEnd)));

    // Alive and answering.
    sink = [&](const QString& line) { received << line; };
    QVERIFY(service.isRunning());
    QCOMPARE(exchange("IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"));
    QCOMPARE(exchange("GetImages"), QStringLiteral("cam1>term1 @GetImages %1").arg(SoakStream::Images));
    QCOMPARE(exchange("GetExpTime"), QStringLiteral("cam1>term1 @GetExpTime %1").arg(SoakStream::ExpTimeMs));

    qInfo().noquote() << QStringLiteral(
                             "lines %1 (%2 bytes, longest %3), answers checked %4, lines left unanswered %5, "
                             "busy events %6, sequences %7, single exposures %8 (stored %9), refused while busy %10, "
                             "image files %11; VmRSS at 20 % %12 kB, at end %13 kB, peak %14 kB")
                             .arg(stream.linesSent())
                             .arg(stream.bytesSent())
                             .arg(stream.longestLine())
                             .arg(stream.answersChecked())
                             .arg(stream.unansweredLines())
                             .arg(stream.busyEvents())
                             .arg(stream.sequencesStarted())
                             .arg(stream.singlesStarted())
                             .arg(stream.singlesStored())
                             .arg(stream.refusedWhileBusy())
                             .arg(images.size())
                             .arg(rssAt20)
                             .arg(rssAtEnd)
                             .arg(rssPeak);
    QStringList kinds;
    const auto counts = stream.kindCounts();
    for (auto it = counts.begin(); it != counts.end(); ++it)
        kinds << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    qInfo().noquote() << "line kinds:" << kinds.join(", ");
}

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_soak.moc"
