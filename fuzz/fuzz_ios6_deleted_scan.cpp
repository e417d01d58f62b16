// The scans for deleted handles and messages of an iOS 6 sms.db, handles
// first as the program runs them, and once more: the second run stores
// nothing new.

#include <QDir>

#include <stdexcept>

#include "FuzzMessages.h"
#include "IOS6DeletedRecordScan.h"
#include "IOS6MessageDb.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QDir folder = fuzzSourceWithSmsDb(data, size);
    IOS6MessageDb db{folder, QString(), false};
    MsgDataSet set = MsgDataSet::create();
    try {
        db.chats(set);
    } catch (const std::runtime_error &) {
    }
    const QList<_MsgChat *> chats = set.chatList();
    qsizetype stored[2] = {0, 0};
    for (int run = 0; run < 2; ++run) {
        MsgDataSet recycled = MsgDataSet::create();
        try {
            readRawHandles(db, nullptr);
            readRawMessages(db, chats, nullptr);
            db.recycledMessages(recycled);
        } catch (const std::runtime_error &e) {
            FUZZ_CHECK(run == 0, QStringLiteral("a file scanned once fails the second time: ") + QString::fromUtf8(e.what()));
            return 0;
        }
        fuzzReadMessageSet(recycled);
        stored[run] = recycled.data()->messages.size();
    }
    FUZZ_CHECK(stored[0] == stored[1], QStringLiteral("a second scan stored more"));
    return 0;
}
