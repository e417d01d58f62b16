// An sms.db in the iOS 6 layout read as a message source: its
// conversations and all their messages with attachments, each rendered.

#include <QDir>

#include <stdexcept>

#include "FuzzMessages.h"
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
        db.messages(set, 0);
    } catch (const std::runtime_error &) {
    }
    fuzzReadMessageSet(set);
    return 0;
}
