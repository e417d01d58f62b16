#include "MbdbRecord.h"

#include "MbdbFile.h"

QString MbdbRecord::fileId() const
{
    return mbdbFileId(domain.toString(), path.toString());
}

bool MbdbRecord::isEmptyFile() const
{
    return size == 0 && linkTarget.toString().isEmpty();
}
