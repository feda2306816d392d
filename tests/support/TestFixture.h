#pragma once

#include "TestWait.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

// A fresh scratch directory, made the current one while this object lives
// (the camera object and the key files work relative to it); the previous
// current directory comes back on destruction.
class WorkDir
{
public:
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    // False if the directory could not be made or entered.
    bool isValid() const { return entered; }
    QString path() const { return dir.path(); }
    QString filePath(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
    bool entered = false;
};

// Collects the log lines written in this process while it lives. One at a
// time: it installs itself as the message handler and puts the previous one
// back on destruction.
class LogCapture
{
public:
    enum class Keep {
        All,       // every line, none printed
        DebugOnly, // qDebug() lines; warnings and worse go to stderr as usual
    };
    explicit LogCapture(Keep keep = Keep::All);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const QStringList& lines() const;
    void clear();
    // True if any line contains the text.
    bool contains(const QString& text) const;

private:
    QtMessageHandler previous;
};

// The set-up the in-process tests share: make one in init(), drop it in
// cleanup(). The log capture starts once the directory is entered.
struct TestFixture
{
    explicit TestFixture(LogCapture::Keep keep = LogCapture::Keep::All) : log(keep) {}
    WorkDir workDir;
    LogCapture log;
};
