#include "TestFixture.h"

#include <QDir>

#include <algorithm>
#include <cstdio>

WorkDir::WorkDir() : m_previous(QDir::currentPath())
{
    m_entered = m_dir.isValid() && QDir::setCurrent(m_dir.path());
}

WorkDir::~WorkDir()
{
    if (m_entered)
        QDir::setCurrent(m_previous);
}

namespace {

// The message handler is a plain function: the capture's state is global.
QStringList s_lines;
LogCapture::Keep s_keep = LogCapture::Keep::All;

void collect(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (s_keep == LogCapture::Keep::All || type == QtDebugMsg)
        s_lines.append(text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

LogCapture::LogCapture(Keep keep)
{
    s_lines.clear();
    s_keep = keep;
    m_previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

const QStringList& LogCapture::lines() const
{
    return s_lines;
}

void LogCapture::clear()
{
    s_lines.clear();
}

bool LogCapture::contains(const QString& text) const
{
    return std::any_of(s_lines.cbegin(), s_lines.cend(), [&](const QString& line) { return line.contains(text); });
}
