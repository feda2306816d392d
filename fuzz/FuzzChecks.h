#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The invariants every parser of the service keeps, whatever bytes it is fed.
// Each check runs one parser on an input and returns a description of the
// first invariant it broke, or an empty string. The fuzz targets and the
// regression test (tests/fuzzregressions) run the very same checks.
namespace fuzzchecks {

// Any bytes, seen as UTF-8, as Latin-1 and as UTF-16 text, given to
// SMsg::Parse.
QString checkParse(const QByteArray& input);

// Any bytes as config.cfg (UTF-8 and Latin-1) through readConfigLines.
QString checkConfig(const QByteArray& input);

// Any bytes as a key file (UTF-8 and Latin-1) through readKeyWords.
QString checkKeys(const QByteArray& input);

// imagefile::composeName and alternativeName. The input is
//   flags(1) seqFileNo(4) imageIndex(4) alternative(4) name(rest)
// with the numbers little-endian; flags bit 0: use the sequence number,
// bits 1-2: the name is UTF-8 (0, 3), Latin-1 (1) or UTF-16 (2).
QString checkFileName(const QByteArray& input);
QByteArray fileNameInput(bool useSeqFileNo, int encoding, qint32 seqFileNo, qint32 imageIndex, qint32 alternative,
                         const QByteArray& name);

// The receiving path: LineReader fed in chunks, decodeLine per line.
// The input is
//   head(1) chunkSizes(2 each) stream(rest)
// head bits 0-3: the number of chunk sizes (little-endian, modulo 8192, 0
// read as 1, used in turn); bits 4-6: the stream is fed that many times + 1;
// bit 7: fed in chunks, the lines are taken as views into the reader's buffer
// (else as copies), and fed byte by byte the other way.
QString checkReceive(const QByteArray& input);
QByteArray receiveInput(const QList<int>& chunkSizes, int repeats, const QByteArray& stream);

// By target name: "parse", "config", "keys", "filename", "receive".
QString check(const QString& target, const QByteArray& input);

// Prints the violation and aborts (so the fuzzer keeps the input); does
// nothing for an empty one.
void abortOn(const QString& violation);

} // namespace fuzzchecks
