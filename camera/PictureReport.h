#pragma once

#include "FrameRecord.h"

#include <QString>

#include <functional>

// Where the running sequence is, read between its steps: the picture of the
// running sequence (0 <= picture < pictures; for the RBI flush alone the
// frame), how many it takes (1 for a single exposure), the phase, and what
// the frame being exposed is expected to need still. Idle: all 0.
enum class ProgressPhase { Idle, Rbi, Exposing, Between };
struct PictureProgress
{
    int picture = 0;
    int pictures = 0;
    ProgressPhase phase = ProgressPhase::Idle;
    long timeLeftMs = 0;
};
// "idle", "rbi", "exposing" or "between".
const char* phaseName(ProgressPhase phase);

// What became of the last picture of a sequence or single exposure: its
// file, or the camera operation or file step that lost it ("exposeFrame",
// "grabRow", "overdue", "abort", "cancel", "discarded", "create", ...).
struct PictureOutcome
{
    enum Kind { NoneYet, Stored, Lost };
    Kind kind = NoneYet;
    int picture = -1;
    QString file;
    QString step;
};

// Keeps the last outcome, read from the frame's record, and tells listeners.
class PictureReport
{
public:
    void stored(const FrameRecord& record);
    void lost(const FrameRecord& record);
    const PictureOutcome& last() const { return outcome; }

    std::function<void(const QString& file)> onStored;
    std::function<void(int picture, const QString& step)> onLost;

private:
    PictureOutcome outcome;
};
