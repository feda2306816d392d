#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace camlib {

// One injected failure of the camera simulator: the operation named
// `operation` (a CameraLibrary method name such as "open" or "grabRow")
// returns `status` from its `atCall`-th call on (counting from 1), or only at
// that call when `once`.
struct SimFault
{
    // EIO, as the hardware library reports a failed transfer.
    static constexpr long DefaultStatus = -5;

    QString operation;
    int atCall = 1;
    bool once = false;
    long status = DefaultStatus;

    bool triggersAt(int call) const { return once ? call == atCall : call >= atCall; }

    // Parses one item of SIM_FAIL: `name[@k][once][=status]`, for example
    // "open", "grabRow@5", "exposeFrame@2once", "readTemperature@3=-19".
    // Nothing for an unknown operation, k < 1, status 0 or malformed text.
    static std::optional<SimFault> parse(const QString& text);

    // The CameraLibrary operations by method name, in declaration order.
    static const QStringList& operationNames();
};

} // namespace camlib
