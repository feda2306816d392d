// What the README and docs/operations.md show in their code blocks, tried
// here: the options of each program line against the program's --help, the
// configuration examples through the service's own parser, and the installed
// paths they name against what an install really holds.
#include "ConfigKeys.h"
#include "ConfigLines.h"

#include <QtTest>

namespace {

struct Block
{
    QString file;
    QString language; // after the opening fence; empty for none
    QStringList lines;
};

QString readDocument(const QString& name)
{
    QFile file(QStringLiteral(STARSCAM_SOURCE_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(name));
    return QString::fromUtf8(file.readAll());
}

QList<Block> codeBlocks()
{
    QList<Block> blocks;
    for (const QString name : {"README.md", "docs/operations.md"}) {
        Block* open = nullptr;
        for (const QString& line : readDocument(name).split('\n')) {
            if (line.startsWith(QLatin1String("```"))) {
                if (open) {
                    open = nullptr;
                } else {
                    blocks.append(Block{name, line.mid(3).trimmed(), {}});
                    open = &blocks.last();
                }
            } else if (open) {
                open->lines << line;
            }
        }
    }
    return blocks;
}

QString documentsText()
{
    return readDocument("README.md") + readDocument("docs/operations.md") + readDocument("docs/camera-host.md");
}

// The built program for a name a command line uses, or empty.
QString program(const QString& word)
{
    static const QMap<QString, QString> built{{"starscam", STARSCAM_BIN},
                                              {"starsctl", STARSCTL_BIN},
                                              {"stars-testserver", STARS_TESTSERVER_BIN},
                                              {"starscam-rawconv", RAWCONV_BIN}};
    return built.value(word.section('/', -1));
}

} // namespace

class tst_Documents : public QObject
{
    Q_OBJECT

private slots:
    void programLinesUseOptionsTheHelpNames();
    void configurationExamplesHoldKnownKeys();
    void installedPathsExist();
};

void tst_Documents::programLinesUseOptionsTheHelpNames()
{
    int tried = 0;
    for (const Block& block : codeBlocks()) {
        if (block.language != QLatin1String("sh"))
            continue;
        // Continued lines joined; a comment ends the command.
        const QString joined = block.lines.join('\n').replace(QStringLiteral("\\\n"), QStringLiteral(" "));
        for (QString line : joined.split('\n')) {
            line = line.section(QStringLiteral(" #"), 0, 0);
            for (const QString& command : line.split(QRegularExpression(QStringLiteral("&&|;|\\|")))) {
                QStringList words = command.simplified().split(' ', Qt::SkipEmptyParts);
                while (!words.isEmpty() && (words.first().contains('=') || words.first() == QLatin1String("sudo")))
                    words.removeFirst();
                if (words.isEmpty() || program(words.first()).isEmpty())
                    continue;
                const QString path = program(words.first());
                QProcess help;
                help.start(path, {QStringLiteral("--help")});
                QVERIFY2(help.waitForFinished(10000), qPrintable(path));
                QCOMPARE(help.exitCode(), 0);
                const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
                for (const QString& word : words.mid(1)) {
                    if (!word.startsWith(QLatin1String("--")))
                        continue;
                    const QString option = word.section('=', 0, 0);
                    QVERIFY2(text.contains(option),
                             qPrintable(QStringLiteral("%1: \"%2\" shows %3, which %4 --help "
                                                       "does not name")
                                            .arg(block.file, command.trimmed(), option, words.first())));
                }
                ++tried;
            }
        }
    }
    QVERIFY(tried >= 4);
}

void tst_Documents::configurationExamplesHoldKnownKeys()
{
    // A block of "KEY value" lines is a config.cfg example.
    const QRegularExpression keyLine(QStringLiteral("^\\s*[A-Z][A-Z0-9_]+\\s+\\S"));
    int examples = 0;
    for (const Block& block : codeBlocks()) {
        if (!block.language.isEmpty())
            continue;
        QStringList settings;
        for (const QString& line : block.lines)
            if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#'))
                settings << line;
        if (settings.isEmpty() || !std::all_of(settings.begin(), settings.end(), [&](const QString& l) {
                return keyLine.match(l).hasMatch();
            }))
            continue;
        QMap<QString, QString> config;
        readConfigText(block.lines.join('\n').toLocal8Bit(), config);
        QCOMPARE(config.size() > 0, true);
        for (auto it = config.cbegin(); it != config.cend(); ++it) {
            QVERIFY2(configkeys::known().contains(it.key()),
                     qPrintable(QStringLiteral("%1: unknown key %2").arg(block.file, it.key())));
            QVERIFY2(!it.value().isEmpty(),
                     qPrintable(QStringLiteral("%1: %2 has no value").arg(block.file, it.key())));
        }
        ++examples;
    }
    QVERIFY(examples >= 3);
}

void tst_Documents::installedPathsExist()
{
    // Installed as the package installs (prefix /usr), into a scratch root.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QProcess install;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DESTDIR"), root.path());
    install.setProcessEnvironment(environment);
    install.start(QStringLiteral(STARSCAM_CMAKE), {QStringLiteral("--install"), QStringLiteral(STARSCAM_BUILD_DIR),
                                                   QStringLiteral("--prefix"), QStringLiteral("/usr")});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());

    // Paths of the package's own, as the documents write them.
    const QRegularExpression path(QStringLiteral("/usr/(bin|lib|share)(/[A-Za-z0-9_.@+-]+)*/?"));
    QSet<QString> named;
    for (auto it = path.globalMatch(documentsText()); it.hasNext();) {
        const QString p = it.next().captured(0);
        if (p.contains(QLatin1String("starscam")) || p.contains(QLatin1String("stars"))
            || p.startsWith(QLatin1String("/usr/lib/systemd/system")))
            named.insert(p);
    }
    QVERIFY(named.size() >= 4);
    for (const QString& p : qAsConst(named))
        QVERIFY2(QFileInfo::exists(root.path() + p), qPrintable(p + QStringLiteral(" is not installed")));
}

QTEST_GUILESS_MAIN(tst_Documents)
#include "tst_documents.moc"
