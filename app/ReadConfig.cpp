#include "Body.h"

#include "ConfigLines.h"
#include "SmallFile.h"

#include <QDebug>

bool Body::ReadConfig()
{
    const QString name = QStringLiteral("config.cfg");
    QByteArray bytes;
    QString reason;
    if (!readSmallFile(name, bytes, reason)) {
        // A FIFO, a directory or a huge file is treated as a missing one.
        qDebug() << "Unreadable configuration file" << name << reason;
        qDebug() << QStringLiteral("Can not open [%1]").arg(name);
        return false;
    }
    readConfigText(bytes, configMap);
    return true;
}
