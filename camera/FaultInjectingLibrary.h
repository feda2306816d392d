#pragma once

#include "CameraLibrary.h"
#include "SimFault.h"

#include <QList>
#include <QMap>
#include <QString>
#include <array>
#include <memory>
#include <optional>

namespace camlib {

// What the fault keys of config.cfg ask for:
//   SIM_FAIL          comma-separated failures, see SimFault::parse,
//                     e.g. "open" or "grabRow@5,exposeFrame@2once"
//   SIM_FORCE_STATUS  a device status word reported whatever the camera
//                     does, decimal or 0x-hex
struct FaultSettings
{
    QList<SimFault> faults;
    std::optional<quint32> forcedStatus;

    // Nothing when neither key is present. A value it does not understand
    // is logged and skipped.
    static std::optional<FaultSettings> fromConfig(const QMap<QString, QString>& config);
};

// A camera library in front of another that makes chosen operations fail,
// counts every call and may report a fixed status word, so tests can drive
// the camera object through failures any backend could show. A call that is
// made to fail never reaches the library behind; a failed open writes -1 to
// the handle, as a hardware library may leave junk there.
class FaultInjectingLibrary : public CameraLibrary
{
public:
    // `inner` is not owned and must outlive this.
    explicit FaultInjectingLibrary(CameraLibrary& inner, const FaultSettings& settings = FaultSettings());
    explicit FaultInjectingLibrary(std::unique_ptr<CameraLibrary> inner,
                                   const FaultSettings& settings = FaultSettings());

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

    // Operation names are the method names above; an unknown name, a call
    // number below 1 or status 0 is refused (false).
    bool failFrom(const QString& operation, int atCall, long status = SimFault::DefaultStatus);
    bool failOnce(const QString& operation, int atCall, long status = SimFault::DefaultStatus);
    bool addFault(const SimFault& fault);
    void clearFaults();
    // The status word getDeviceStatus reports after a successful call;
    // nothing reports the camera's own.
    void setForcedStatus(std::optional<quint32> word);
    // Calls made so far (failed ones included); -1 for an unknown name.
    int callCount(const QString& operation) const;
    // Starts counting afresh; injected failures count from here on too.
    void resetCallCounts();

private:
    enum Op {
        ListCreate,
        ListFirst,
        ListNext,
        ListDelete,
        Open,
        GetLibVersion,
        GetModel,
        GetSerialString,
        GetHWRevision,
        GetPixelSize,
        GetArrayArea,
        GetVisibleArea,
        SetTemperature,
        ReadTemperature,
        GetCoolerPower,
        SetExposureTime,
        SetFrameType,
        SetHBin,
        SetVBin,
        SetImageArea,
        SetTDI,
        ExposeFrame,
        GetDeviceStatus,
        GetExposureStatus,
        GrabRow,
        CancelExposure,
        Close,
        OpCount
    };

    // Counts the call and returns an injected failure's status, or 0.
    long enter(Op op);

    std::unique_ptr<CameraLibrary> ownedInner;
    CameraLibrary& wrapped;
    FaultSettings faultSettings;
    std::array<int, OpCount> callCounts{};
};

} // namespace camlib
