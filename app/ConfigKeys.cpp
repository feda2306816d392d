#include "ConfigKeys.h"

#include <algorithm>
#include <vector>

namespace configkeys {

namespace {

// Levenshtein distance: insertions, deletions and substitutions cost 1.
int editDistance(const QString& a, const QString& b)
{
    std::vector<int> row(std::size_t(b.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[std::size_t(j)];
            const int substitution = diagonal + (a.at(i - 1) == b.at(j - 1) ? 0 : 1);
            row[std::size_t(j)] = std::min({above + 1, row[std::size_t(j) - 1] + 1, substitution});
            diagonal = above;
        }
    }
    return row.back();
}

} // namespace

const QStringList& known()
{
    static const QStringList keys = {
        // the node, its bus and its keys
        QStringLiteral("NAME_ON_STARS"),
        QStringLiteral("KEY_FILE_NAME"),
        QStringLiteral("STARS_IP"),
        QStringLiteral("STARS_PORT"),
        QStringLiteral("STARS_KEEPALIVE_S"),
        QStringLiteral("STARS_USER_TIMEOUT_S"),
        QStringLiteral("STARS_STAY_UP"),
        QStringLiteral("OUTCOME_EVENTS"),
        // the camera
        QStringLiteral("CAMERA_NO"),
        QStringLiteral("CAMERA_SERIAL"),
        QStringLiteral("CAMERA_LIBRARY"),
        QStringLiteral("FLI_LIBRARY"),
        QStringLiteral("START_SET_POINT"),
        QStringLiteral("EXPOSURE_GRACE_MS"),
        // the image files
        QStringLiteral("IMAGE_DIR"),
        QStringLiteral("IMAGE_METADATA"),
        QStringLiteral("SEQ_FILE_NO_CONTINUE"),
        // the simulated camera (camera/SimSettings.h)
        QStringLiteral("SIM_CAMERAS"),
        QStringLiteral("SIM_WIDTH"),
        QStringLiteral("SIM_HEIGHT"),
        QStringLiteral("SIM_STATUS_UNKNOWN"),
        QStringLiteral("SIM_FORCE_STATUS"),
        QStringLiteral("SIM_ROW_US"),
        QStringLiteral("SIM_SEED"),
        QStringLiteral("SIM_AMBIENT"),
        QStringLiteral("SIM_COOLER_TAU_MS"),
        QStringLiteral("SIM_FAIL"),
    };
    return keys;
}

QString nearest(const QString& key)
{
    if (known().contains(key))
        return QString();
    // A quarter of the key's letters (at least two) may be wrong: enough for a
    // slip of the finger, too few to turn one key into another.
    const int limit = std::max(2, key.size() / 4);
    QString best;
    int bestDistance = limit + 1;
    for (const QString& candidate : known()) {
        const int distance = editDistance(key, candidate);
        if (distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace configkeys
