#pragma once

#include <QByteArray>
#include <QString>

// Config and key files are a few lines long; anything bigger is a mistake.
constexpr qint64 MaxSmallFileBytes = 1024 * 1024;

// Reads the whole of a small regular file. The path is opened without
// blocking (a FIFO with no writer must not hang the start-up) and the opened
// descriptor is checked, so a FIFO, a directory or a device is refused rather
// than read for ever. Returns false with reason set ("not a regular file
// (FIFO)", "larger than 1048576 bytes", or the system's error text) when the
// file cannot be used; contents is then empty.
bool readSmallFile(const QString& path, QByteArray& contents, QString& reason, qint64 maxBytes = MaxSmallFileBytes);

// The bytes as a file opened in text mode reads them: every CR dropped.
QByteArray withoutCarriageReturns(QByteArray bytes);
