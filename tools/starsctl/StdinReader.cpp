#include "StdinReader.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

StdinReader::StdinReader(QObject* parent)
    : QObject(parent), notifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    connect(notifier, &QSocketNotifier::activated, this, &StdinReader::readAvailable);
}

void StdinReader::readAvailable()
{
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        notifier->setEnabled(false);
        const QByteArray rest = reader.takeRest();
        if (!rest.isEmpty())
            emit lineRead(rest);
        emit endOfInput();
        return;
    }
    reader.append(chunk, int(count));
    while (reader.hasLine()) {
        QByteArray line = reader.takeLine();
        if (line.endsWith('\n'))
            line.chop(1);
        emit lineRead(line);
    }
}
