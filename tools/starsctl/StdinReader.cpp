#include "StdinReader.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

StdinReader::StdinReader(QObject *parent)
    : QObject(parent), m_notifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::readAvailable);
}

void StdinReader::readAvailable()
{
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        m_notifier->setEnabled(false);
        if (!m_buffer.isEmpty())
            emit lineRead(m_buffer);
        m_buffer.clear();
        emit endOfInput();
        return;
    }
    m_buffer.append(chunk, int(count));
    int start = 0;
    for (int end; (end = m_buffer.indexOf('\n', start)) >= 0; start = end + 1)
        emit lineRead(m_buffer.mid(start, end - start));
    m_buffer.remove(0, start);
}
