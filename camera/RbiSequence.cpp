#include "RbiSequence.h"

#include "FrameControl.h"

#include <QDebug>

#include <algorithm>

namespace {

QString frameRange(int first, int last)
{
    if (first < 0 || last < first)
        return QStringLiteral("none");
    if (first == last)
        return QStringLiteral("frame %1").arg(first);
    return QStringLiteral("frames %1 to %2").arg(first).arg(last);
}

} // namespace

int RbiSequence::flushes() const
{
    return frames.settings().rbiFlushes;
}

void RbiSequence::begin()
{
    finishRequested = false;
    st = Start;
    timer->start();
}

void RbiSequence::step()
{
    qCDebug(steps) << "in Rbi Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        switch (st) {
        case Start:
            qCDebug(steps) << "Rbi Start";
            rbiCount = flushes();
            st = RBIFlood;
            sameTick = true;
            break;
        case RBIFlood:
        case RBIFlushing:
            qCDebug(steps) << (st == RBIFlood ? "Rbi RBIFlood" : "Exp RBI Flush");
            frames.begin(st == RBIFlood ? FrameRecord::Kind::RbiFlood : FrameRecord::Kind::RbiFlush, 0, nextFrame(),
                         flushes(), true);
            st = frames.start(", RBI flush ends") ? Exposing : Done;
            break;
        case Exposing:
            qCDebug(steps) << "Rbi Exposing";
            if (const FrameSteps::Poll polled = frames.poll(", RBI flush ends"); polled != FrameSteps::Poll::Waiting)
                st = polled == FrameSteps::Poll::Ready ? DownLoad : Done;
            break;
        case DownLoad:
            qCDebug(steps) << "Rbi DownLoad" << rbiCount;
            qCDebug(steps) << "RBI Count > 0";
            frames.readRbi(", frame counted"); // a failed RBI read-out still counts the frame
            --rbiCount;
            st = rbiCount > 0 && !finishRequested ? RBIFlushing : Done;
            break;
        case Done:
            qCDebug(steps) << "Rbi End / Abort / Done";
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

PictureProgress RbiSequence::progress() const
{
    PictureProgress p;
    if (st == None)
        return p;
    p.pictures = std::max(flushes(), 0);
    p.picture = std::clamp(nextFrame(), 0, std::max(p.pictures - 1, 0));
    p.phase = ProgressPhase::Rbi;
    if (st == Exposing)
        p.timeLeftMs = frames.timeLeft();
    return p;
}

QString RbiSequence::abandon(bool& cancelFailed)
{
    if (st == None)
        return QString();
    const int all = flushes();
    const int next = nextFrame();
    const bool cancel = st == Exposing || st == DownLoad;
    const int over = st == Done ? all : next;
    if (cancel)
        cancelFailed = frames.abort() == FrameControl::Ended::CancelFailed;
    st = None;
    stop();
    return QStringLiteral("RBI flush abandoned: done %1; abandoned %2%3; not taken %4")
        .arg(frameRange(0, over - 1), cancel ? frameRange(next, next) : frameRange(0, -1),
             cancel ? (cancelFailed ? QStringLiteral(" (cancel failed)") : QStringLiteral(" (exposure cancelled)"))
                    : QString(),
             frameRange(cancel ? next + 1 : over, all - 1));
}

int RbiSequence::finish()
{
    if (st == None)
        return 0;
    finishRequested = true;
    int left = 0;
    if (st == Exposing || st == DownLoad) {
        left = rbiCount - 1; // the frame being exposed is read out
    } else if (st != Done) {
        left = st == Start ? flushes() : rbiCount;
        st = Done; // no frame in progress: end at the next step
    }
    qDebug() << "Finishing the RBI flush:" << left << "frames not taken";
    return std::max(left, 0);
}
