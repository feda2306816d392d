#include "SimFault.h"

namespace camlib {

const QStringList& SimFault::operationNames()
{
    static const QStringList names{
        QStringLiteral("listCreate"),
        QStringLiteral("listFirst"),
        QStringLiteral("listNext"),
        QStringLiteral("listDelete"),
        QStringLiteral("open"),
        QStringLiteral("getLibVersion"),
        QStringLiteral("getModel"),
        QStringLiteral("getSerialString"),
        QStringLiteral("getHWRevision"),
        QStringLiteral("getPixelSize"),
        QStringLiteral("getArrayArea"),
        QStringLiteral("getVisibleArea"),
        QStringLiteral("setTemperature"),
        QStringLiteral("readTemperature"),
        QStringLiteral("getCoolerPower"),
        QStringLiteral("setExposureTime"),
        QStringLiteral("setFrameType"),
        QStringLiteral("setHBin"),
        QStringLiteral("setVBin"),
        QStringLiteral("setImageArea"),
        QStringLiteral("setTDI"),
        QStringLiteral("exposeFrame"),
        QStringLiteral("getDeviceStatus"),
        QStringLiteral("getExposureStatus"),
        QStringLiteral("grabRow"),
        QStringLiteral("cancelExposure"),
        QStringLiteral("close"),
    };
    return names;
}

std::optional<SimFault> SimFault::parse(const QString& text)
{
    QString rest = text.trimmed();
    SimFault fault;

    const int equals = rest.indexOf(QLatin1Char('='));
    if (equals >= 0) {
        bool ok = false;
        fault.status = rest.mid(equals + 1).toLong(&ok, 0);
        if (!ok || fault.status == 0)
            return std::nullopt;
        rest.truncate(equals);
    }

    const int at = rest.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        QString count = rest.mid(at + 1);
        if (count.endsWith(QLatin1String("once"))) {
            fault.once = true;
            count.chop(4);
        }
        bool ok = false;
        fault.atCall = count.toInt(&ok, 10);
        if (!ok || fault.atCall < 1)
            return std::nullopt;
        rest.truncate(at);
    }

    if (!operationNames().contains(rest))
        return std::nullopt;
    fault.operation = rest;
    return fault;
}

} // namespace camlib
