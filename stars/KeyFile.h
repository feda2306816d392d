#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QTextStream;

// A key file holds the keys a node logs in with; the server sends a key
// number n and the node answers with key n modulo the number of keys.

// The words of a key file, in order: any white space (blanks, tabs, line
// breaks) separates keys, empty words do not count. This is how a node reads
// its key file.
QStringList readKeyWords(QTextStream& stream);
// The same for the raw bytes of a key file (local 8-bit text, CRs dropped).
QStringList keyWords(const QByteArray& bytes);

// The lines of a key file, each trimmed, empty ones skipped: one key per
// line (bytes read as Latin-1, as the server compares them). This is how a
// STARS server reads a node's key file, so a file with all
// its keys on one line holds one key for the server.
QStringList keyLines(const QByteArray& bytes);

// Chooses the answer to key number `number`: keys[number % keys.size()].
// Returns false, with why set, for an empty key list or a negative number,
// which have no key to answer with.
bool chooseKey(const QStringList& keys, qint64 number, QString& key, QString& why);
