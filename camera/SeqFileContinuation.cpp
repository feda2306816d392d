#include "SeqFileContinuation.h"

#include "ImageFile.h"

#include <QDebug>

void SeqFileContinuation::beforeTake(const QString& dir, const QString& fileName, int& seqFileNo)
{
    if (!enabled || numberGiven || looked.contains(fileName))
        return;
    looked.insert(fileName);
    const int next = imagefile::nextSeqFileNo(dir, fileName);
    if (next > seqFileNo) {
        qDebug() << "Sequence numbers of" << fileName << "continue at" << next << "after the images already stored";
        seqFileNo = next;
    }
}
