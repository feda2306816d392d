#include "ExpSequence.h"

#include "FrameControl.h"

#include <QDebug>

#include <algorithm>

namespace {

// "none", "picture 2" or "pictures 0 to 3" for the numbers first..last.
QString pictures(int first, int last)
{
    if (first < 0 || last < first)
        return QStringLiteral("none");
    if (first == last)
        return QStringLiteral("picture %1").arg(first);
    return QStringLiteral("pictures %1 to %2").arg(first).arg(last);
}

} // namespace

void ExpSequence::begin()
{
    finishRequested = false;
    st = Start;
    timer->start();
}

void ExpSequence::step()
{
    qCDebug(steps) << "in Exp Seq";
    const ExposureSettings& s = frames.settings();
    const int flushes = std::max(s.rbiFlushes, 0);
    const auto kind = [&] {
        return rbiCount <= 0         ? FrameRecord::Kind::Main
               : rbiCount == flushes ? FrameRecord::Kind::RbiFlood
                                     : FrameRecord::Kind::RbiFlush;
    };
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        switch (st) {
        case Start:
            qCDebug(steps) << "Exp Start";
            index = -1;
            st = NextPic;
            sameTick = true;
            break;
        case NextPic:
            qCDebug(steps) << "Exp NextPic";
            ++index;
            if (index >= s.images || finishRequested) {
                st = End;
            } else {
                rbiCount = flushes;
                st = flushes > 0 ? RBIFlood : StartExp;
            }
            break;
        case RBIFlood:
            qCDebug(steps) << "Exp RBIFlood";
            [[fallthrough]];
        case RBIFlushing:
            if (st == RBIFlushing)
                qCDebug(steps) << "Exp RBI Flush";
            [[fallthrough]];
        case StartExp:
            if (st == StartExp)
                qCDebug(steps) << "Exp StartExp";
            frames.begin(kind(), index, index, std::max(s.images, 0));
            st = frames.start(", no file") ? Exposing : Done;
            break;
        case Exposing:
            qCDebug(steps) << "Exp Exposing";
            if (const FrameSteps::Poll polled = frames.poll(", no file"); polled != FrameSteps::Poll::Waiting)
                st = polled == FrameSteps::Poll::Ready ? DownLoad : Done;
            break;
        case DownLoad:
            qCDebug(steps) << "Exp DownLoad" << rbiCount;
            if (rbiCount <= 0) {
                qCDebug(steps) << "RBI Count <= 0";
                frames.readAndStore(", no file");
                st = Done;
            } else {
                qCDebug(steps) << "RBI Count > 0";
                if (frames.readRbi(", no file")) {
                    --rbiCount;
                    st = rbiCount > 0 ? RBIFlushing : StartExp;
                } else {
                    st = Done;
                }
            }
            break;
        case Done:
            qCDebug(steps) << "Exp Done";
            st = NextPic;
            break;
        case End:
            qCDebug(steps) << "Exp End";
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

PictureProgress ExpSequence::progress() const
{
    PictureProgress p;
    if (st == None)
        return p;
    const int images = std::max(frames.settings().images, 0);
    p.pictures = images;
    // Before the first picture the index is still the last sequence's.
    p.picture = st == Start || images == 0 ? 0 : std::clamp(index, 0, images - 1);
    switch (st) {
    case RBIFlood:
    case RBIFlushing:
        p.phase = ProgressPhase::Rbi;
        break;
    case Exposing:
    case DownLoad:
        p.phase = frames.current().isRbi() ? ProgressPhase::Rbi : ProgressPhase::Exposing;
        break;
    default:
        p.phase = ProgressPhase::Between;
        break;
    }
    if (st == Exposing)
        p.timeLeftMs = frames.timeLeft();
    return p;
}

QString ExpSequence::abandon(bool& cancelFailed)
{
    if (st == None)
        return QString();
    const int images = frames.settings().images;
    // The picture in progress, if any, and how many pictures are over.
    int current = -1;
    int over = 0;
    switch (st) {
    case Start:
        break;
    case NextPic:
    case Done:
        over = index + 1;
        break;
    case End:
        over = images;
        break;
    default:
        current = index;
        over = index;
        break;
    }
    const bool cancel = st == Exposing || st == DownLoad;
    QString how;
    if (cancel) {
        const FrameControl::Ended end = frames.abort();
        cancelFailed = end == FrameControl::Ended::CancelFailed;
        how = end == FrameControl::Ended::Discarded ? QStringLiteral(" (finished frame discarded)")
              : cancelFailed                        ? QStringLiteral(" (cancel failed)")
                                                    : QStringLiteral(" (exposure cancelled)");
    } else if (current >= 0) {
        frames.lostBeforeStart(FrameRecord::Kind::Main, current, QStringLiteral("abort"));
    }
    st = None;
    stop();
    const int taken = current >= 0 ? current + 1 : over;
    return QStringLiteral("Exposure sequence abandoned: done %1; abandoned %2%3; not taken %4")
        .arg(pictures(0, over - 1), pictures(current, current), how, pictures(taken, images - 1));
}

int ExpSequence::finish()
{
    if (st == None)
        return 0;
    const int images = frames.settings().images;
    finishRequested = true;
    if (st == Start) {
        qDebug() << "Finishing the exposure sequence before its first picture:" << std::max(images, 0) << "not taken";
        return std::max(images, 0);
    }
    const bool inProgress = st != NextPic && st != Done && st != End;
    const int left = std::max(images - index - 1, 0);
    qDebug().noquote() << QStringLiteral("Finishing the exposure sequence: completing %1; not taken %2")
                              .arg(inProgress ? pictures(index, index) : pictures(0, -1),
                                   pictures(index + 1, images - 1));
    return left;
}
