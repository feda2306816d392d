#pragma once

#include <QString>
#include <QStringList>

// The keys of config.cfg the service knows. A key read anywhere (app/,
// camera/, stars/) is listed here too, or its lines are reported as unknown.
namespace configkeys {

// Every known key, upper case.
const QStringList& known();

// The known key nearest to `key` (upper case) by edit distance, when it is
// near enough to be a typing error of it; empty otherwise. Empty as well for
// a key that is itself known.
QString nearest(const QString& key);

} // namespace configkeys
