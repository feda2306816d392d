#include "SingleSequence.h"

#include "FrameControl.h"

#include <QDebug>

void SingleSequence::begin(int pictureNumber)
{
    picture = pictureNumber;
    st = Start;
    timer->start();
}

void SingleSequence::step()
{
    qCDebug(steps) << "in Exp2 Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        switch (st) {
        case Start:
            qCDebug(steps) << "Exp2 Start";
            frames.begin(FrameRecord::Kind::Single, picture, 0, 1);
            st = frames.start(", no image") ? Exposing : Done;
            break;
        case Exposing:
            qCDebug(steps) << "Exp2 Exposing";
            if (frames.poll(", no image") != FrameSteps::Poll::Waiting)
                st = Done;
            break;
        case Done:
            qCDebug(steps) << "Exp2 End/Abort/Done";
            st = None;
            sameTick = true;
            break;
        case None:
            qCDebug(steps) << "Exp None";
            stop();
            break;
        }
    }
}

PictureProgress SingleSequence::progress() const
{
    PictureProgress p;
    if (st == None)
        return p;
    p.pictures = 1;
    p.phase = ProgressPhase::Exposing;
    if (st == Exposing)
        p.timeLeftMs = frames.timeLeft();
    return p;
}

QString SingleSequence::abandon(bool& cancelFailed)
{
    if (st == None)
        return QString();
    QString summary = QStringLiteral("Single exposure abandoned after its end");
    if (st == Exposing) {
        const FrameControl::Ended end = frames.abort();
        cancelFailed = end == FrameControl::Ended::CancelFailed;
        summary = end == FrameControl::Ended::Discarded
                      ? QStringLiteral("Single exposure abandoned (finished frame discarded)")
                  : cancelFailed ? QStringLiteral("Single exposure abandoned (cancel failed)")
                                 : QStringLiteral("Single exposure abandoned (exposure cancelled)");
    } else if (st == Start) {
        frames.lostBeforeStart(FrameRecord::Kind::Single, picture, QStringLiteral("abort"));
        summary = QStringLiteral("Single exposure abandoned before it started");
    }
    st = None;
    stop();
    return summary;
}
