#include "SampleConversations.h"

#include <QDir>
#include <QFile>

#include "MsgSetBuilder.h"

SampleConversations::SampleConversations(const QString &fileDir)
{
    MsgSetBuilder b;
    set = b.set();

    _MsgChat *sms = b.chat(1, QStringLiteral("+15550000001"));
    _MsgHandle *ann = b.handle(sms, 1, QStringLiteral("+15550000001"), QStringLiteral("Ann"));
    ann->country = QStringLiteral("us");

    _MsgChat *group = b.chat(2, QStringLiteral("chat000000000000000042"));
    group->guid = QStringLiteral("iMessage;+;chat000000000000000042");
    group->service_name = QStringLiteral("iMessage");
    group->style = 43;
    group->display_name = QStringLiteral("Weekend");
    group->handles.insert(QStringLiteral("1"), ann);
    _MsgHandle *bob = b.handle(group, 2, QStringLiteral("bob@example.com"));
    bob->service = QStringLiteral("iMessage");
    _MsgHandle *carl = b.handle(nullptr, 3, QStringLiteral("+15550000003"));

    struct Row
    {
        _MsgChat *chat;
        _MsgHandle *sender;
        int fromMe;
        const char *text;
        int itemType;
    };
    const Row rows[] = {
        {sms, ann, 0, "Hello", 0},           {sms, ann, 1, "Picture \xEF\xBF\xBC", 0},
        {sms, ann, 0, "Nice", 0},            {group, bob, 0, "Who comes?", 0},
        {group, ann, 0, "Me \xEF\xBF\xBC\xEF\xBF\xBC", 0}, {group, ann, 0, "", 1},
    };
    qint64 key = 0;
    for (const Row &r : rows) {
        ++key;
        _MsgMessage *m = b.message(r.chat, key, 400000000 + int(key) * 60, QString::fromUtf8(r.text), r.sender);
        m->guid = QStringLiteral("MSG-%1").arg(key);
        m->is_from_me = r.fromMe;
        m->is_sent = 1;
        m->is_finished = 1;
        m->service = r.chat->service_name;
        m->account = QStringLiteral("e:");
        m->item_type = r.itemType;
        if (r.itemType == 1) {
            m->other = carl;
            m->other_handle = 3;
        }
    }

    const struct
    {
        qint64 message;
        const char *name;
        bool file;
    } attachments[] = {{2, "IMG_0001.JPG", true}, {5, "IMG_0002.JPG", true}, {5, "clip.mov", false}};
    qint64 id = 0;
    for (const auto &a : attachments) {
        ++id;
        _MsgAttachment *att =
            b.attachment(message(a.message), id,
                         QStringLiteral("~/Library/SMS/Attachments/%1/%2").arg(id, 2, 10, QLatin1Char('0')).arg(QLatin1String(a.name)),
                         QStringLiteral("image/jpeg"));
        att->transfer_name = QLatin1String(a.name);
        if (!fileDir.isEmpty()) {
            att->_local_path = QDir(fileDir).absoluteFilePath(QStringLiteral("att%1-%2").arg(id).arg(QLatin1String(a.name)));
            if (a.file) {
                QDir().mkpath(fileDir);
                QFile f(att->_local_path);
                if (f.open(QIODevice::WriteOnly))
                    f.write(QByteArray("attachment ") + a.name);
            }
        }
    }
}
