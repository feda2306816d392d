// The command service: one slot per STARS command, each sending exactly one
// reply. Numbers go out locale-independent: integers in decimal, booleans as
// 1 and 0, reals as "%g" with six significant digits.
#include "Body.h"

#include "Stars.h"
#include "tarn.h"

#include <QDebug>

#include <cmath>

namespace {

// Decimal digits as QString::number() writes them, without its locale
// machinery: most replies are a few integers.
QString decimal(qint64 v)
{
    char digits[24];
    char* const end = digits + sizeof digits;
    char* p = end;
    quint64 u = v < 0 ? 0 - quint64(v) : quint64(v);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0)
        *--p = '-';
    return QString::fromLatin1(p, int(end - p));
}

QString num(int v)
{
    return decimal(v);
}

QString num(long v)
{
    return decimal(v);
}

QString num(double v)
{
    return QStringLiteral("%1").arg(v);
}

// A real parameter; text that is no finite number counts as 0, like any
// other text that is no number ("nan" or "inf" must not reach the cooler).
double real(const QString& text)
{
    const double v = text.toDouble();
    return std::isfinite(v) ? v : 0.0;
}

QString num(bool v)
{
    return v ? QStringLiteral("1") : QStringLiteral("0");
}

// "@<command> v1 v2 ...", built in one piece: every reply goes through here.
QString values(const SMsg& msg, std::initializer_list<QString> items)
{
    int size = 1 + msg.command.size();
    for (const QString& item : items)
        size += 1 + item.size();
    QString text;
    text.reserve(size);
    text += QLatin1Char('@');
    text += msg.command;
    for (const QString& item : items) {
        text += QLatin1Char(' ');
        text += item;
    }
    return text;
}

QString ok(const SMsg& msg)
{
    return values(msg, {QStringLiteral("Ok:")});
}

QString err(const SMsg& msg, const char* reason)
{
    return values(msg, {QStringLiteral("Err:"), QLatin1String(reason)});
}

} // namespace

void Body::reply(const SMsg& msg, const QString& text)
{
    starsClient->SendReply(msg, text);
}

void Body::changedIsBusy(bool f)
{
    // The camera object tells each change once: its busy flag is the only one.
    qDebug() << "ChangedIsBusy" << f;
    starsClient->SendEvent(nodeName, QStringLiteral("_ChangedIsBusy %1").arg(f ? 1 : 0));
    // The bus is gone and the last picture is done: out, once the camera's
    // step has returned.
    if (!f && exiting)
        QMetaObject::invokeMethod(this, &Body::Exit, Qt::QueuedConnection);
}

void Body::imageStored(const QString& file)
{
    starsClient->SendEvent(nodeName, QStringLiteral("_ImageStored %1").arg(file));
}

void Body::pictureLost(int picture, const QString& step)
{
    starsClient->SendEvent(nodeName, QStringLiteral("_PictureLost %1 %2").arg(picture).arg(step));
}

// ---- information ----

void Body::AnsIsBusy(SMsg msg)
{
    reply(msg, values(msg, {num(camera->isBusy())}));
}

void Body::AnsGetLibVer(SMsg msg)
{
    reply(msg, values(msg, {camera->getLibVersion()}));
}

void Body::AnsGetModel(SMsg msg)
{
    reply(msg, values(msg, {camera->getModel()}));
}

void Body::AnsGetSerialSTR(SMsg msg)
{
    reply(msg, values(msg, {camera->getSerialString()}));
}

void Body::AnsGetHWRev(SMsg msg)
{
    long rev;
    if (camera->getHWRev(rev))
        reply(msg, values(msg, {num(rev)}));
    else
        reply(msg, err(msg, "Get HW Revision"));
}

void Body::AnsGetPixSize(SMsg msg)
{
    double w, h;
    if (camera->getPixelSize(w, h))
        reply(msg, values(msg, {num(w), num(h)}));
    else
        reply(msg, err(msg, "Get Pixel Size"));
}

void Body::AnsGetArrayArea(SMsg msg)
{
    int ulX, ulY, lrX, lrY;
    if (camera->getArrayArea(ulX, ulY, lrX, lrY))
        reply(msg, values(msg, {num(ulX), num(ulY), num(lrX), num(lrY)}));
    else
        reply(msg, err(msg, "Get Array Area"));
}

void Body::AnsGetVisArea(SMsg msg)
{
    int ulX, ulY, lrX, lrY;
    if (camera->getVisibleArea(ulX, ulY, lrX, lrY))
        reply(msg, values(msg, {num(ulX), num(ulY), num(lrX), num(lrY)}));
    else
        reply(msg, err(msg, "Get Visible Area"));
}

void Body::AnsGetTemp(SMsg msg)
{
    double ccd, base;
    if (camera->getTemperatures(ccd, base))
        reply(msg, values(msg, {num(ccd), num(base)}));
    else
        reply(msg, err(msg, "Get Temperature"));
}

void Body::AnsGetCCDTemp(SMsg msg)
{
    double t;
    if (camera->getCCDTemperature(t))
        reply(msg, values(msg, {num(t)}));
    else
        reply(msg, err(msg, "Get Temperature"));
}

void Body::AnsGetBaseTemp(SMsg msg)
{
    double t;
    if (camera->getBaseTemperature(t))
        reply(msg, values(msg, {num(t)}));
    else
        reply(msg, err(msg, "Get Temperature"));
}

void Body::AnsGetCoolerPWR(SMsg msg)
{
    double p;
    if (camera->getCoolerPower(p))
        reply(msg, values(msg, {num(p)}));
    else
        reply(msg, err(msg, "Get Cool Power"));
}

void Body::AnsGetBin(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().hbin), num(camera->settings().vbin), num(camera->settings().rbin)}));
}

void Body::AnsGetRBIFlushes(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().rbiFlushes)}));
}

void Body::AnsGetRBIExpTime(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().rbiExpTime)}));
}

void Body::AnsGetTDIRate(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().tdiRate)}));
}

void Body::AnsGetImages(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().images)}));
}

void Body::AnsGetExpTime(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().expTime)}));
}

void Body::AnsGetInterval(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().interval)}));
}

void Body::AnsGetFileName(SMsg msg)
{
    reply(msg, values(msg, {camera->settings().fileName}));
}

void Body::AnsGetSeqFileNo(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().seqFileNo)}));
}

void Body::AnsGetUseSeqFNo(SMsg msg)
{
    reply(msg, values(msg, {num(camera->settings().useSeqFileNo)}));
}

// ---- settings: a parameter that is no number becomes 0 ----

void Body::AnsSetTemp(SMsg msg)
{
    if (camera->setTemperature(real(msg.params)))
        reply(msg, ok(msg));
    else
        reply(msg, err(msg, "Set Temperature"));
}

void Body::AnsSetBin(SMsg msg)
{
    if (msg.paramList.size() < 3) {
        reply(msg, err(msg, "Less parameters (expecting hbin, vbin and rbin)"));
        return;
    }
    // Stored as given; an exposure refuses to start with a factor below 1.
    ExposureSettings& s = camera->settings();
    s.hbin = msg.paramList.at(0).toInt();
    s.vbin = msg.paramList.at(1).toInt();
    s.rbin = msg.paramList.at(2).toInt();
    reply(msg, ok(msg));
}

void Body::AnsSetRBIFlushes(SMsg msg)
{
    camera->settings().rbiFlushes = msg.params.toInt();
    reply(msg, ok(msg));
}

void Body::AnsSetRBIExpTime(SMsg msg)
{
    camera->settings().rbiExpTime = msg.params.toInt();
    reply(msg, ok(msg));
}

void Body::AnsSetTDIRate(SMsg msg)
{
    camera->settings().tdiRate = msg.params.toInt();
    reply(msg, ok(msg));
}

void Body::AnsSetImages(SMsg msg)
{
    camera->settings().images = msg.params.toInt();
    reply(msg, ok(msg));
}

void Body::AnsSetExpTime(SMsg msg)
{
    camera->settings().expTime = msg.params.toInt();
    reply(msg, ok(msg));
}

void Body::AnsSetInterval(SMsg msg)
{
    camera->settings().interval = real(msg.params);
    reply(msg, ok(msg));
}

void Body::AnsSetFileName(SMsg msg)
{
    camera->settings().fileName = msg.params;
    reply(msg, ok(msg));
}

void Body::AnsSetSeqFileNo(SMsg msg)
{
    camera->setSeqFileNo(msg.params.toInt());
    reply(msg, ok(msg));
}

void Body::AnsSetUseSeqFNo(SMsg msg)
{
    camera->settings().useSeqFileNo = msg.params.toInt() == 1;
    reply(msg, ok(msg));
}

// ---- exposures: refused while busy, answered at once ----

void Body::AnsExposure(SMsg msg)
{
    if (camera->isBusy()) {
        reply(msg, err(msg, "Busy"));
        return;
    }
    const bool started = camera->startExpSequence();
    reply(msg, started ? ok(msg) : err(msg, "Busy"));
}

void Body::AnsStartExposure(SMsg msg)
{
    if (camera->isBusy()) {
        reply(msg, err(msg, "Busy"));
        return;
    }
    const bool started = camera->startExp2Sequence();
    reply(msg, started ? ok(msg) : err(msg, "Busy"));
}

void Body::AnsDownLoadImage(SMsg msg)
{
    if (camera->isBusy()) {
        reply(msg, err(msg, "Busy"));
        return;
    }
    switch (camera->downLoadSingle()) {
    case Tarn::DownLoadResult::Stored:
        reply(msg, ok(msg));
        break;
    case Tarn::DownLoadResult::ReadFailed:
    case Tarn::DownLoadResult::Refused: // nothing waits to be read out
        reply(msg, err(msg, "Busy"));
        break;
    case Tarn::DownLoadResult::NotStored:
        // The image was read but no file could hold it: never answer Ok.
        reply(msg, err(msg, "Write File"));
        break;
    }
}

void Body::AnsRBIFlush(SMsg msg)
{
    if (camera->isBusy()) {
        reply(msg, err(msg, "Busy"));
        return;
    }
    const bool started = camera->startRbiSequence();
    reply(msg, started ? ok(msg) : err(msg, "Busy"));
}

// ---- stopping on request ----

void Body::AnsAbort(SMsg msg)
{
    // The busy event goes out inside abandonSequence(), before the reply.
    const Tarn::Abandoned abandoned = camera->abandonSequence();
    if (!abandoned.summary.isEmpty())
        qDebug().noquote() << QStringLiteral("Abort from %1: %2").arg(msg.from, abandoned.summary);
    if (!abandoned.cancelled) {
        qDebug().noquote() << QStringLiteral("Abort from %1: the camera did not confirm the cancel").arg(msg.from);
        reply(msg, err(msg, "Cancel"));
        return;
    }
    reply(msg, ok(msg));
}

// ---- progress and outcomes ----

void Body::AnsGetProgress(SMsg msg)
{
    const Tarn::Progress p = camera->progress();
    reply(msg,
          values(msg, {num(p.picture), num(p.pictures), QLatin1String(Tarn::phaseName(p.phase)), num(p.timeLeftMs)}));
}

void Body::AnsGetLastFile(SMsg msg)
{
    const QString file = camera->lastFileWritten();
    reply(msg, file.isEmpty() ? err(msg, "No File") : values(msg, {file}));
}

void Body::AnsGetLastOutcome(SMsg msg)
{
    const Tarn::Outcome outcome = camera->lastOutcome();
    switch (outcome.kind) {
    case Tarn::Outcome::Stored:
        reply(msg, values(msg, {QStringLiteral("stored"), outcome.file}));
        break;
    case Tarn::Outcome::Lost:
        reply(msg, values(msg, {QStringLiteral("lost"), outcome.step}));
        break;
    case Tarn::Outcome::NoneYet:
        reply(msg, values(msg, {QStringLiteral("none")}));
        break;
    }
}
