#include "PictureReport.h"

const char* phaseName(ProgressPhase phase)
{
    switch (phase) {
    case ProgressPhase::Rbi:
        return "rbi";
    case ProgressPhase::Exposing:
        return "exposing";
    case ProgressPhase::Between:
        return "between";
    case ProgressPhase::Idle:
        break;
    }
    return "idle";
}

void PictureReport::stored(const FrameRecord& record)
{
    outcome = PictureOutcome{PictureOutcome::Stored, record.picture, record.file, QString()};
    if (onStored)
        onStored(record.file);
}

void PictureReport::lost(const FrameRecord& record)
{
    outcome = PictureOutcome{PictureOutcome::Lost, record.picture, QString(), record.lostAt};
    if (onLost)
        onLost(record.picture, record.lostAt);
}
