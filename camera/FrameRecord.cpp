#include "FrameRecord.h"

QString FrameRecord::who() const
{
    if (rbiAlone)
        return QStringLiteral("RBI frame %1").arg(seqPicture);
    if (kind == Kind::Single)
        return QStringLiteral("Single exposure");
    QString name = QStringLiteral("Picture %1").arg(picture);
    if (kind == Kind::RbiFlood)
        name += QLatin1String(" RBI flood");
    else if (kind == Kind::RbiFlush)
        name += QLatin1String(" RBI flush");
    return name;
}

const char* FrameRecord::stateName(State state)
{
    switch (state) {
    case State::Exposing:
        return "exposing";
    case State::Finished:
        return "finished";
    case State::ReadOut:
        return "read out";
    case State::Stored:
        return "stored";
    case State::Lost:
        return "lost";
    case State::Aborted:
        return "aborted";
    case State::Cancelled:
        return "cancelled";
    }
    return "unknown";
}
