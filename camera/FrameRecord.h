#pragma once

#include "ImageMetadata.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>

// One frame the camera was told to take, from its start to its fate. It
// carries the settings it was started with, its times and readings, so that
// what is said of the frame later (its file's metadata, progress, outcome,
// log lines) never depends on settings changed since.
struct FrameRecord
{
    enum class Kind { Main, Single, RbiFlood, RbiFlush };
    // Exposing -> Finished -> ReadOut -> Stored, or an end on the way: Lost
    // (a camera call or file step failed, see lostAt), Aborted (ended by an
    // abort or stop while exposing, the camera confirmed the cancel) or
    // Cancelled (ended by an abort after it had finished: image discarded).
    enum class State { Exposing, Finished, ReadOut, Stored, Lost, Aborted, Cancelled };

    std::uint64_t id = 0; // unique in the run, from 1
    Kind kind = Kind::Main;
    State state = State::Exposing;

    // Settings taken at the start.
    int hbin = 1;
    int vbin = 1;
    int areaUlX = 0, areaUlY = 0; // image area as sent to the camera
    int width = 0, height = 0;    // binned pixels per row, rows
    int expTimeMs = 0;
    int tdiRate = 0;
    QString fileName;    // the configured name the file's name is made from
    int picture = 0;     // the picture number its file name carries
    int seqPicture = 0;  // its place in the running sequence (frame for RBI)
    int seqPictures = 0; // the pictures (frames) the sequence takes

    // Times: a monotonic clock for lengths, UTC for the metadata.
    QElapsedTimer clock;       // started with the exposure
    long expectedMs = -1;      // expected length; -1: no bound (TDI)
    qint64 exposureEndMs = -1; // clock time when found finished
    qint64 readOutEndMs = -1;  // clock time at the end of the read-out
    QDateTime startUtc, exposureEndUtc, readOutEndUtc;
    imagemeta::CoolerReadings atStart, atEnd;
    std::optional<double> setPoint;

    // Fate.
    QString file;             // the final name it is stored under
    QString lostAt;           // the camera call or file step that lost it
    QString failure;          // what failed, for the log
    bool overwritten = false; // a later start replaced it in the camera

    bool rbiAlone = false; // a frame of the RBI flush alone, not of a picture

    bool isRbi() const { return kind == Kind::RbiFlood || kind == Kind::RbiFlush; }
    // True for a single exposure ready to be read out once.
    bool downloadable() const { return kind == Kind::Single && state == State::Finished && !overwritten; }
    // "Single exposure", "Picture 2", "Picture 2 RBI flood", "RBI frame 1":
    // how log lines name it.
    QString who() const;
    static const char* stateName(State state);
};
