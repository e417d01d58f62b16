// An sms.db in the iOS 5 layout read as a message source: its
// conversations, all their messages and the recycled ones, each message
// rendered.

#include <QDir>

#include <stdexcept>

#include "FuzzMessages.h"
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
    MsgDataSet set = MsgDataSet::create();
    try {
        db.chats(set);
        db.messages(set, 0);
        db.recycledMessages(set);
    } catch (const std::runtime_error &) {
    }
    fuzzReadMessageSet(set);
    return 0;
}
