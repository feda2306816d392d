#pragma once

#include <QString>

// The advisory lock that makes one running service the owner of its node's
// files in an image directory: flock() on "." + imagefile::temporaryTag(node)
// + ".lock" there, held for as long as the object lives. A second copy of the
// same node on the same directory finds it held and must not start, since it
// would take the first one's temporaries for leftovers.
class NodeLock
{
public:
    enum class State {
        Held,        // this object owns the node's files in the directory
        HeldByOther, // another process (or object) holds it
        Unavailable, // no lock file could be had (unwritable or network directory ...)
    };

    // Takes the lock without waiting; dir empty is the working directory.
    // Creates the lock file when it is missing and otherwise leaves it as it
    // is; it is never removed (removing it would let two owners lock two files).
    NodeLock(const QString& dir, const QString& nodeName);
    ~NodeLock();
    NodeLock(const NodeLock&) = delete;
    NodeLock& operator=(const NodeLock&) = delete;

    State state() const { return lockState; }
    bool held() const { return lockState == State::Held; }
    // The lock file's path, for log lines.
    QString path() const { return lockPath; }
    // errno of the failure behind Unavailable.
    int error() const { return lockError; }

    static QString fileName(const QString& nodeName);

private:
    QString lockPath;
    State lockState = State::Unavailable;
    int lockError = 0;
    int fd = -1;
};
