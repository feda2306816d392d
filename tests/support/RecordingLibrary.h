#pragma once

#include "CameraLibrary.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>
#include <mutex>

namespace camlib {

// Passes every call on to another library and writes it down, in order, as
// `operation(inputs)=status`, e.g. "setImageArea(1,14,4,782,516)=0",
// "open(sim0,0x102)=0", "getModel(1,2047)=0". Inputs are the handle, the
// values and the buffer sizes; output buffers are not recorded. Device-class
// masks and domains are written in hex, temperatures as short decimals.
// Tests compare these lines with what the camera object ought to have done.
class RecordingLibrary : public CameraLibrary
{
public:
    // `inner` is not owned and must outlive this.
    explicit RecordingLibrary(CameraLibrary& inner);

    long listCreate(long deviceClassMask) override;
    long listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                   std::size_t descriptionSize) override;
    long listNext(long& domain, char* name, std::size_t nameSize, char* description,
                  std::size_t descriptionSize) override;
    long listDelete() override;
    long open(long& handle, const char* name, long domain) override;
    long getLibVersion(char* buffer, std::size_t size) override;
    long getModel(long handle, char* buffer, std::size_t size) override;
    long getSerialString(long handle, char* buffer, std::size_t size) override;
    long getHWRevision(long handle, long& revision) override;
    long getPixelSize(long handle, double& width, double& height) override;
    long getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) override;
    long getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) override;
    long setTemperature(long handle, double celsius) override;
    long readTemperature(long handle, long channel, double& celsius) override;
    long getCoolerPower(long handle, double& power) override;
    long setExposureTime(long handle, long milliseconds) override;
    long setFrameType(long handle, long frameType) override;
    long setHBin(long handle, long factor) override;
    long setVBin(long handle, long factor) override;
    long setImageArea(long handle, long ulX, long ulY, long lrX, long lrY) override;
    long setTDI(long handle, long rate, long flags) override;
    long exposeFrame(long handle) override;
    long getDeviceStatus(long handle, unsigned long& status) override;
    long getExposureStatus(long handle, long& timeLeftMs) override;
    long grabRow(long handle, std::uint16_t* buffer, std::size_t width) override;
    long cancelExposure(long handle) override;
    long close(long handle) override;

    QStringList calls() const;
    // Only the calls of the named operations, or all but them (e.g. all but
    // the status polls, whose number depends on timing).
    QStringList callsNamed(const QStringList& operations) const;
    QStringList callsExcept(const QStringList& operations) const;
    // Forgets the calls and the captured rows.
    void clear();
    // "setTDI(1,0,0)=0" -> "setTDI".
    static QString operationOf(const QString& call);

    // Keeps a copy of every row grabRow delivered successfully (off by default).
    void setCaptureRows(bool on);
    QVector<QVector<quint16>> capturedRows() const;
    // The captured rows back to back in native byte order, as a frame file
    // written straight from the row buffers holds them.
    QByteArray capturedBytes() const;

private:
    long record(const QString& operation, const QStringList& inputs, long status);

    CameraLibrary& innerLibrary;
    mutable std::mutex callsMutex;
    QStringList callLog;
    bool captureRows = false;
    QVector<QVector<quint16>> rows;
};

} // namespace camlib
