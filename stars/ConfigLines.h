#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

class QTextStream;

// Parses configuration lines into map: "KEY value [ignored...]" per line after
// white space is simplified; an empty line or one starting with '#' is a
// comment, a single word stores nothing, keys are upper-cased, a value
// starting with '#' is stored empty, and a later key wins. Only adds to map.
void readConfigLines(QTextStream& stream, QMap<QString, QString>& map);
// The same for the raw bytes of a configuration file (local 8-bit text, CRs
// dropped as a file read in text mode drops them).
void readConfigText(const QByteArray& bytes, QMap<QString, QString>& map);
