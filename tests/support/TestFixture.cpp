#include "TestFixture.h"

#include <QDir>

#include <algorithm>
#include <cstdio>

WorkDir::WorkDir() : previous(QDir::currentPath())
{
    entered = dir.isValid() && QDir::setCurrent(dir.path());
}

WorkDir::~WorkDir()
{
    if (entered)
        QDir::setCurrent(previous);
}

namespace {

// The message handler is a plain function: the capture's state is global.
QStringList capturedLines;
LogCapture::Keep keepMode = LogCapture::Keep::All;

void collect(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (keepMode == LogCapture::Keep::All || type == QtDebugMsg)
        capturedLines.append(text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

LogCapture::LogCapture(Keep keep)
{
    capturedLines.clear();
    keepMode = keep;
    previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

const QStringList& LogCapture::lines() const
{
    return capturedLines;
}

void LogCapture::clear()
{
    capturedLines.clear();
}

bool LogCapture::contains(const QString& text) const
{
    return std::any_of(capturedLines.cbegin(), capturedLines.cend(),
                       [&](const QString& line) { return line.contains(text); });
}
