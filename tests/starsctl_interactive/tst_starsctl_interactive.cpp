// starsctl --interactive against the test STARS server, with nodes in the test
// playing the targets: from a pipe, and once on a terminal inside tmux.

#include "NodeRunner.h"
#include "ServiceRig.h"
#include "TestWait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

const QStringList Keys{QStringLiteral("k0"), QStringLiteral("k1"), QStringLiteral("k2")};
const int LongWait = 10000;

// Every needle in order, each after the end of the one before.
bool containsInOrder(const QString& haystack, const QStringList& needles, QString* missing)
{
    int from = 0;
    for (const QString& needle : needles) {
        const int at = haystack.indexOf(needle, from);
        if (at < 0) {
            *missing = needle;
            return false;
        }
        from = at + needle.size();
    }
    return true;
}

} // namespace

// The rig's server, with test nodes in the service's place.
class StarsctlInteractiveTest : public ServiceRig
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dialogue_data();
    void dialogue();
    void historyFile_data();
    void historyFile();
    void onTerminal();

private:
    // starsctl, in a directory of its own with the nodes' key files.
    void startCtl(NodeRunner& ctl, const QStringList& arguments);
    QString home() const { return homeDir->path(); }

    std::unique_ptr<BusNode> cam1;
    std::unique_ptr<BusNode> cam2;
    std::unique_ptr<QTemporaryDir> homeDir;
};

void StarsctlInteractiveTest::init()
{
    QVERIFY(startServer());
    QVERIFY(server->addKeys(QStringLiteral("term1"), Keys));
    cam1 = logInNode(QStringLiteral("cam1"), Keys);
    cam2 = logInNode(QStringLiteral("cam2"), Keys);
    QVERIFY(cam1 && cam2);
    homeDir = std::make_unique<QTemporaryDir>();
    QVERIFY(homeDir->isValid());
}

void StarsctlInteractiveTest::cleanup()
{
    cam1.reset();
    cam2.reset();
    stopRig();
    homeDir.reset();
}

// HOME is a fresh directory, so the default history file never touches the
// real one; "%h" in an argument stands for it.
void StarsctlInteractiveTest::startCtl(NodeRunner& ctl, const QStringList& arguments)
{
    ctl.environment().insert(QStringLiteral("HOME"), home());
    QStringList all{"--port", QString::number(server->port())};
    for (QString argument : arguments)
        all.append(argument.replace(QLatin1String("%h"), home()));
    QString why;
    for (const char* node : {"term1", "cam1", "cam2"}) // --node may name any of them
        QVERIFY(ctl.writeKeyFile(QString::fromLatin1(node)));
    QVERIFY2(ctl.start(all, LongWait, &why), qPrintable(why));
}

void StarsctlInteractiveTest::dialogue_data()
{
    QTest::addColumn<QStringList>("arguments"); // after --interactive
    // "|text" written to standard input as one line (or several, split by
    // "\n"), "." closes it; "<line" cam1 expects, ">line" cam1 sends, "=<line"
    // and "=>line" the same for cam2; "~" waits until term1 is logged in;
    // "?text" waits until the output holds text after the last "?" match,
    // "!text" until standard error holds it.
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("printed"); // in this order
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QString>("complaint");   // on standard error; empty: nothing there
    QTest::addColumn<QString>("wholeOutput"); // null: not compared

    const QStringList none;
    QTest::newRow("reply printed after the line and its prompt")
        << none
        << QStringList{"|GetTemp", "<term1>cam1 GetTemp", ">cam1>term1 @GetTemp 20 20", "?@GetTemp 20 20", "|:quit"}
        << 0 << QStringList{"cam1> GetTemp\n> term1>cam1 GetTemp\n< cam1>term1 @GetTemp 20 20\ncam1> :quit\n"} << none
        << "" << QString();
    QTest::newRow("lines go out without waiting for replies")
        << none
        << QStringList{"|A 1\nB", "<term1>cam1 A 1", "<term1>cam1 B", ">cam1>term1 @B Ok:", ">cam1>term1 @A Ok:", "."}
        << 0 << QStringList{"< cam1>term1 @B Ok:", "< cam1>term1 @A Ok:"} << none << "" << QString();
    QTest::newRow("end of input waits for the replies, events do not count")
        << none
        << QStringList{"|GetTemp", ".", "<term1>cam1 GetTemp", ">cam1>term1 _Busy 1", ">cam1>term1 @GetTemp 20 20"} << 0
        << QStringList{"< cam1>term1 _Busy 1", "< cam1>term1 @GetTemp 20 20"} << none << "" << QString();
    QTest::newRow("end of input without a reply")
        << QStringList{"--timeout", "1"} << QStringList{"|GetTemp", ".", "<term1>cam1 GetTemp"} << 2
        << QStringList{"> term1>cam1 GetTemp"} << none << "@GetTemp" << QString();
    QTest::newRow("the server answers for a target that is down")
        << QStringList{"--to", "cam9"} << QStringList{"|GetTemp", "."} << 1
        << QStringList{"cam9> GetTemp", "< System>term1 @GetTemp Er: cam9 is down."} << none << "" << QString();
    QTest::newRow("events printed while idle")
        << QStringList{"--subscribe"}
        << QStringList{"?< System>term1 @flgon Ok:", ">cam1>System _ChangedIsBusy 1", "?< cam1>System _ChangedIsBusy 1",
                       "|:quit"}
        << 0 << QStringList{"> term1>System flgon cam1", "< cam1>System _ChangedIsBusy 1\ncam1> :quit\n"} << none << ""
        << QString();
    QTest::newRow(":to changes the target and the prompt")
        << none << QStringList{"|:to cam2\nGetTemp",
                               "=<term1>cam2 GetTemp",
                               "=>cam2>term1 @GetTemp 1 2",
                               "?@GetTemp 1 2",
                               "|:to",
                               "|:quit"}
        << 0
        << QStringList{"cam1> :to cam2\ncam2> GetTemp\n> term1>cam2 GetTemp\n", "< cam2>term1 @GetTemp 1 2",
                       "cam2> :to\nlines go to cam2\n"}
        << none << "" << QString();
    QTest::newRow(":to a sub-name") << none
                                    << QStringList{"|:to cam2.ccd\nGetTemp", "=<term1>cam2.ccd GetTemp", "|:quit"} << 0
                                    << QStringList{"cam2.ccd> GetTemp"} << none << "" << QString();
    QTest::newRow(":to with --subscribe asks for the new target's events")
        << QStringList{"--subscribe"}
        << QStringList{"?< System>term1 @flgon Ok:", "|:to cam2", "?< System>term1 @flgon Ok:", "=>cam2>System _Ready",
                       "?< cam2>System _Ready",      "|:quit"}
        << 0 << QStringList{"> term1>System flgon cam2"} << none << "" << QString();
    QTest::newRow(":to refuses a bad name")
        << none << QStringList{"|:to cam2>x\nGetTemp", "<term1>cam1 GetTemp", "|:quit"} << 0
        << QStringList{"cam1> GetTemp"} << none << "bad target node" << QString();
    QTest::newRow(":subscribe and :unsubscribe")
        << none
        << QStringList{"|:subscribe cam2",
                       "?< System>term1 @flgon Ok:",
                       "=>cam2>System _Ready",
                       "?< cam2>System _Ready",
                       "|:unsubscribe cam2",
                       "?< System>term1 @flgoff Ok:",
                       "|:quit"}
        << 0 << QStringList{"> term1>System flgon cam2", "> term1>System flgoff cam2"} << none << "" << QString();
    QTest::newRow(":subscribe defaults to the target")
        << none << QStringList{"|:subscribe", "?< System>term1 @flgon Ok:", "|:quit"} << 0
        << QStringList{"> term1>System flgon cam1"} << none << "" << QString();
    // The three lines arrive in one read: without the hold GetTemp would go
    // out before the event is printed.
    QTest::newRow(":wait holds the lines after it")
        << none
        << QStringList{"|GetModel\n:wait _Done 1\nGetTemp",
                       "<term1>cam1 GetModel",
                       ">cam1>term1 @GetModel M",
                       ">cam1>term1 _Done 2",
                       ">cam1>term1 _Done 1",
                       "<term1>cam1 GetTemp",
                       "|:quit"}
        << 0 << QStringList{"< cam1>term1 _Done 2", "< cam1>term1 _Done 1", "> term1>cam1 GetTemp"} << none << ""
        << QString();
    QTest::newRow(":wait takes an event that came after the last line sent")
        << none
        << QStringList{"|GetModel",    "<term1>cam1 GetModel",  ">cam1>term1 _Done",   ">cam1>term1 @GetModel M",
                       "?@GetModel M", "|:wait _Done\nGetTemp", "<term1>cam1 GetTemp", "|:quit"}
        << 0
        << QStringList{"cam1> :wait _Done\n(not subscribed to the events of cam1: only events sent to us count;"
                       " :subscribe asks for them)\ncam1> GetTemp"}
        << none << "" << QString();
    QTest::newRow("an Er: answer is the reply; the run ends with 1")
        << QStringList{"--timeout", "30"}
        << QStringList{"|GetTmp", ".", "<term1>cam1 GetTmp", ">cam1>term1 Er: Undefined Command"} << 1
        << QStringList{"< cam1>term1 Er: Undefined Command"} << none << "" << QString();
    QTest::newRow(":wait times out on an event from before the last line; the run goes on")
        << QStringList{"--timeout", "1"}
        << QStringList{"|A",
                       "<term1>cam1 A",
                       ">cam1>term1 _Done",
                       ">cam1>term1 @A Ok:",
                       "?@A Ok:",
                       "|B",
                       "<term1>cam1 B",
                       ">cam1>term1 @B Ok:",
                       "?@B Ok:",
                       "|:wait _Done\nC",
                       "<term1>cam1 C",
                       "|:quit"}
        << 2 << QStringList{"cam1> C"} << none << "_Done" << QString();
    QTest::newRow(":wait on another node's event times out")
        << QStringList{"--timeout", "1"}
        << QStringList{"~", "|:wait _Done", "=>cam2>term1 _Done", "!no answer", "|:quit"} << 2
        << QStringList{"< cam2>term1 _Done\ncam1> :quit\n"} << none << "no answer within 1 s" << QString();
    QTest::newRow(":wait needs an event")
        << none << QStringList{"|:wait\n:quit"} << 0 << none << none << ":wait needs" << QString();
    QTest::newRow(":quit leaves at once")
        << none << QStringList{"|GetTemp\n:quit\nGetModel", "<term1>cam1 GetTemp"} << 0 << QStringList{"cam1> :quit\n"}
        << QStringList{"GetModel"} << "" << QString();
    QTest::newRow("unknown local command is not sent")
        << none << QStringList{"|:frob 1\nGetTemp", "<term1>cam1 GetTemp", "|:quit"} << 0
        << QStringList{"cam1> :frob 1\ncam1> GetTemp"} << none << "unknown local command :frob" << QString();
    QTest::newRow(":help") << none << QStringList{"|:help\n:quit"} << 0
                           << QStringList{":to NODE", ":wait EVENT", ":subscribe", ":quit"} << none << "" << QString();
    QTest::newRow("blank and comment lines get a prompt but are not sent")
        << none << QStringList{"|# note\n\n   \nGetTemp", "<term1>cam1 GetTemp", "|:quit"} << 0
        << QStringList{"cam1> # note\ncam1> \ncam1>    \ncam1> GetTemp\n"} << none << "" << QString();
    QTest::newRow("quiet: the text of each line received, no prompts")
        << QStringList{"--quiet", "--subscribe"}
        << QStringList{"|GetTemp", "<term1>cam1 GetTemp", ">cam1>System _Busy 1", ">cam1>term1 @GetTemp 20 20", "."}
        << 0 << none << none << "" << QStringLiteral("@flgon Ok:\n_Busy 1\n@GetTemp 20 20\n");
    QTest::newRow("connection lost") << none << QStringList{"~", ">cam1>System disconnect term1"} << 2 << none << none
                                     << "closed the connection" << QString();
    QTest::newRow("no steps with --interactive")
        << QStringList{"GetTemp"} << QStringList{} << 64 << none << none << "--interactive" << QString();
    QTest::newRow("log-in refused") << QStringList{"--node", "cam1"} << QStringList{"|GetTemp"} << 2 << none
                                    << QStringList{"cam1> GetTemp"} << "refused" << QString();
}

void StarsctlInteractiveTest::dialogue()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, script);
    QFETCH(int, exitCode);
    QFETCH(QStringList, printed);
    QFETCH(QStringList, absent);
    QFETCH(QString, complaint);
    QFETCH(QString, wholeOutput);

    NodeRunner runner(QStringLiteral(STARSCTL_BIN), Keys);
    QProcess& ctl = runner.process();
    QByteArray out;
    QByteArray err;
    connect(&ctl, &QProcess::readyReadStandardOutput, this, [&] { out += ctl.readAllStandardOutput(); });
    connect(&ctl, &QProcess::readyReadStandardError, this, [&] { err += ctl.readAllStandardError(); });
    startCtl(runner, QStringList{"--interactive", "--history", "%h/history"} + arguments);

    int seen = 0; // where the last "?" match ended
    for (const QString& step : script) {
        if (step.startsWith(QLatin1String("=<"))) {
            QCOMPARE(cam2->nextLine(LongWait), step.mid(2));
        } else if (step.startsWith(QLatin1String("=>"))) {
            cam2->send(step.mid(2));
        } else if (step.startsWith('<')) {
            QCOMPARE(cam1->nextLine(LongWait), step.mid(1));
        } else if (step.startsWith('>')) {
            cam1->send(step.mid(1));
        } else if (step.startsWith('|')) {
            ctl.write(step.mid(1).toUtf8() + '\n');
        } else if (step == ".") {
            ctl.closeWriteChannel();
        } else if (step == "~") {
            QVERIFY(TestWait::until([&] { return cam1->request("System", "listnodes").contains("term1"); }, LongWait));
        } else if (step.startsWith('!')) {
            QVERIFY2(TestWait::until([&] { return err.contains(step.mid(1).toUtf8()); }, LongWait),
                     qPrintable(QString::fromUtf8(out + err)));
        } else if (step.startsWith('?')) {
            const QByteArray text = step.mid(1).toUtf8();
            QVERIFY2(TestWait::until([&] { return out.indexOf(text, seen) >= 0; }, LongWait),
                     qPrintable(QString::fromUtf8(out)));
            seen = out.indexOf(text, seen) + text.size();
        } else {
            QFAIL(qPrintable("bad script step " + step));
        }
    }
    QVERIFY(TestWait::until([&] { return ctl.state() == QProcess::NotRunning; }, 3 * LongWait));
    out += ctl.readAllStandardOutput();
    err += ctl.readAllStandardError();
    const QString output = QString::fromUtf8(out);
    const QString errors = QString::fromUtf8(err);

    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QVERIFY2(ctl.exitCode() == exitCode, qPrintable(output + errors));
    QString missing;
    QVERIFY2(containsInOrder(output, printed, &missing), qPrintable("no \"" + missing + "\" in\n" + output));
    for (const QString& text : absent)
        QVERIFY2(!output.contains(text), qPrintable(output));
    if (!wholeOutput.isNull())
        QCOMPARE(output, wholeOutput);
    if (complaint.isEmpty())
        QCOMPARE(errors, QString());
    else
        QVERIFY2(errors.contains(complaint), qPrintable(errors));
}

void StarsctlInteractiveTest::historyFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("file");      // relative to the home directory
    QTest::addColumn<QByteArray>("before"); // null: no file
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("after"); // null: no file

    QByteArray longHistory;
    QByteArray newestLines;
    for (int i = 1; i <= 600; ++i) {
        const QByteArray line = "GetTemp " + QByteArray::number(i) + '\n';
        longHistory += line;
        if (i > 100)
            newestLines += line;
    }

    QTest::newRow("written in the home directory")
        << QStringList{} << ".starsctl_history" << QByteArray()
        << QByteArray("GetTemp\n\n# note\n  :to cam2  \n:to cam2\nGetTemp\n:quit\n")
        << QByteArray("GetTemp\n:to cam2\nGetTemp\n:quit\n");
    QTest::newRow("appended to an earlier run's")
        << QStringList{"--history", "%h/h"} << "h" << QByteArray("GetModel\nSetTemp -20\n")
        << QByteArray("SetTemp -20\nGetTemp\n:quit\n") << QByteArray("GetModel\nSetTemp -20\nGetTemp\n:quit\n");
    QTest::newRow("cut back to the newest 500 lines")
        << QStringList{"--history", "%h/h"} << "h" << longHistory << QByteArray(":quit\n") << newestLines + ":quit\n";
    QTest::newRow("--history= keeps none") << QStringList{"--history="} << ".starsctl_history" << QByteArray()
                                           << QByteArray("GetTemp\n:quit\n") << QByteArray();
    QTest::newRow("a directory that is not there") << QStringList{"--history", "%h/none/h"} << "none/h" << QByteArray()
                                                   << QByteArray("GetTemp\n:quit\n") << QByteArray();
}

void StarsctlInteractiveTest::historyFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, after);

    const QString path = QDir(home()).filePath(file);
    if (!before.isNull()) {
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write(before);
    }
    NodeRunner runner(QStringLiteral(STARSCTL_BIN), Keys);
    QProcess& ctl = runner.process();
    startCtl(runner, QStringList{"--interactive"} + arguments);
    ctl.write(input);
    ctl.closeWriteChannel();
    QVERIFY(ctl.waitForFinished(3 * LongWait));
    QVERIFY2(ctl.exitCode() == 0, ctl.readAllStandardError().constData());

    QFile history(path);
    if (after.isNull()) {
        QVERIFY(!history.exists());
        return;
    }
    QVERIFY(history.open(QIODevice::ReadOnly));
    QCOMPARE(history.readAll(), after);
    // What was sent to the nodes is nobody else's business.
    if (before.isNull())
        QCOMPARE(history.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
}

// A real terminal: the line editor inside tmux, watched through its screen.
void StarsctlInteractiveTest::onTerminal()
{
#ifndef STARSCTL_LINE_EDITOR
    QSKIP("starsctl was built without its line editor");
#endif
    const QString tmuxProgram = QStandardPaths::findExecutable(QStringLiteral("tmux"));
    if (tmuxProgram.isEmpty())
        QSKIP("tmux is not installed");

    const QString socket = QDir(home()).filePath(QStringLiteral("tmux.socket"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home());
    environment.remove(QStringLiteral("TMUX"));
    const auto tmux = [&](const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(tmuxProgram, QStringList{"-S", socket, "-f", "/dev/null"} + arguments);
        if (!process.waitForFinished(LongWait))
            return QString();
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    struct ServerGuard
    {
        std::function<void()> stop;
        ~ServerGuard() { stop(); }
    } guard{[&] { tmux({"kill-server"}); }};

    // The screen's rows without trailing blank ones; the last is where the cursor is.
    QStringList rows;
    QElapsedTimer sinceCapture;
    const auto screenShows = [&](const QStringList& lastRows) {
        if (sinceCapture.isValid() && sinceCapture.elapsed() < 50)
            return false;
        sinceCapture.start();
        rows = tmux({"capture-pane", "-p", "-t", "ctl"}).split('\n');
        while (!rows.isEmpty() && rows.constLast().trimmed().isEmpty())
            rows.removeLast();
        return rows.mid(rows.size() - lastRows.size()) == lastRows;
    };
    const auto waitForScreen = [&](const QStringList& lastRows) {
        sinceCapture.invalidate();
        return TestWait::until([&] { return screenShows(lastRows); }, LongWait);
    };
    const auto keys = [&](const QStringList& keyNames) { tmux(QStringList{"send-keys", "-t", "ctl"} + keyNames); };
    const auto type = [&](const QString& text) { tmux({"send-keys", "-t", "ctl", "-l", text}); };

    const QString historyPath = QDir(home()).filePath(QStringLiteral("history"));
    {
        QFile history(historyPath);
        QVERIFY(history.open(QIODevice::WriteOnly));
        history.write("GetModel\n");
    }
    const QString command = QStringLiteral("'%1' --port %2 --keyfile '%3/term1.key' --history '%4' --subscribe;"
                                           " echo starsctl-exit-$?; sleep 600")
                                .arg(QStringLiteral(STARSCTL_BIN))
                                .arg(server->port())
                                .arg(server->keyDir(), historyPath);
    tmux({"new-session", "-d", "-s", "ctl", "-x", "80", "-y", "24", command});

    // Started without steps on a terminal: interactive by itself.
    QVERIFY2(waitForScreen({"< System>term1 @flgon Ok:", "cam1>"}), qPrintable(rows.join('\n')));
    type("GetT");
    QVERIFY2(waitForScreen({"cam1> GetT"}), qPrintable(rows.join('\n')));
    // An event while typing: printed above, the input drawn again below it.
    cam1->send("cam1>System _ChangedIsBusy 1");
    QVERIFY2(waitForScreen({"< cam1>System _ChangedIsBusy 1", "cam1> GetT"}), qPrintable(rows.join('\n')));
    QCOMPARE(tmux({"display-message", "-p", "-t", "ctl", "#{cursor_x}"}).trimmed(), QStringLiteral("10"));
    type("emp");
    keys({"Enter"});
    QCOMPARE(cam1->nextLine(LongWait), QStringLiteral("term1>cam1 GetTemp"));
    cam1->send("cam1>term1 @GetTemp 20 20");
    QVERIFY2(waitForScreen({"cam1> GetTemp", "> term1>cam1 GetTemp", "< cam1>term1 @GetTemp 20 20", "cam1>"}),
             qPrintable(rows.join('\n')));

    // Up twice: past this run's line to the one from the history file.
    keys({"Up", "Up"});
    QVERIFY2(waitForScreen({"cam1> GetModel"}), qPrintable(rows.join('\n')));
    keys({"Enter"});
    QCOMPARE(cam1->nextLine(LongWait), QStringLiteral("term1>cam1 GetModel"));
    cam1->send("cam1>term1 @GetModel Sim");
    QVERIFY2(waitForScreen({"< cam1>term1 @GetModel Sim", "cam1>"}), qPrintable(rows.join('\n')));

    // Tab completes command words, the node's and the local ones.
    type("GetCoo");
    keys({"Tab"});
    QVERIFY2(waitForScreen({"cam1> GetCoolerPWR"}), qPrintable(rows.join('\n')));
    keys({"C-c"});
    type(":unsub");
    keys({"Tab"});
    QVERIFY2(waitForScreen({"cam1> :unsubscribe"}), qPrintable(rows.join('\n')));
    keys({"C-c"});

    // Ctrl-C drops the line being typed and ends a wait.
    type("SetTemp");
    QVERIFY2(waitForScreen({"cam1> SetTemp"}), qPrintable(rows.join('\n')));
    keys({"C-c"});
    QVERIFY2(waitForScreen({"cam1> SetTemp", "cam1>"}), qPrintable(rows.join('\n')));
    type(":wait _Never");
    keys({"Enter"});
    QVERIFY2(waitForScreen({"cam1> :wait _Never", "(waiting for _Never from cam1; Ctrl-C stops)"}),
             qPrintable(rows.join('\n')));
    keys({"C-c"});
    QVERIFY2(waitForScreen({"starsctl: stopped waiting for the event \"_Never\" from cam1", "cam1>"}),
             qPrintable(rows.join('\n')));

    keys({"C-d"});
    QVERIFY2(TestWait::until([&] { return screenShows({"starsctl-exit-0"}); }, LongWait), qPrintable(rows.join('\n')));
    QFile history(historyPath);
    QVERIFY(history.open(QIODevice::ReadOnly));
    QCOMPARE(history.readAll(), QByteArray("GetModel\nGetTemp\nGetModel\n:wait _Never\n"));
}

QTEST_GUILESS_MAIN(StarsctlInteractiveTest)
#include "tst_starsctl_interactive.moc"
