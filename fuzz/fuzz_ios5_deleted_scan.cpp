// The scan for deleted messages of an iOS 5 sms.db, run twice on the same
// file: the second run finds nothing it has not stored already.

#include <QDir>

#include <stdexcept>

#include "FuzzMessages.h"
#include "IOS5DeletedMessageScan.h"
#include "IOS5MessageDb.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QDir folder = fuzzSourceWithSmsDb(data, size);
    IOS5MessageDb db{folder, QString()};
    try {
        readRawMessages(db, nullptr);
    } catch (const std::runtime_error &) {
        return 0;
    }
    MsgDataSet first = MsgDataSet::create();
    MsgDataSet second = MsgDataSet::create();
    try {
        db.recycledMessages(first);
        readRawMessages(db, nullptr);
        db.recycledMessages(second);
    } catch (const std::runtime_error &e) {
        fuzzFail("a file scanned once fails the second time", QString::fromUtf8(e.what()));
    }
    fuzzReadMessageSet(first);
    FUZZ_CHECK(first.data()->messages.size() == second.data()->messages.size(),
               QStringLiteral("a second scan stored more"));
    return 0;
}
