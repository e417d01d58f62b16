<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>IOS6RestoreMessagesThread</name>
    <message>
        <source>IDS_MERGING_IOS6_MESSAGES</source>
        <translation>Saving SMS to iPhone...</translation>
    </message>
    <message>
        <source>IDS_NO_VALID_MESSAGE_RESTORE_TO_IOS_%1_UNKNOWN_CHAT_MSG</source>
        <translation>No message for recovering. Only found %1 messages with unknown contact info. Please right click the messages to set contact info first and try again.</translation>
    </message>
    <message>
        <source>IDS_CANT_EXPORT_ITUNES_BACKUP_IS_ENCRYPT</source>
        <translation>Failed to export SMS to iTunes backup because your current iTunes backup is encrypted.</translation>
    </message>
    <message>
        <source>copy database to %1 failed.</source>
        <translation>copy database to %1 failed.</translation>
    </message>
    <message>
        <source>can not find %1.</source>
        <translation>can not find %1.</translation>
    </message>
    <message>
        <source>invalid IOS db.</source>
        <translation>invalid IOS db.</translation>
    </message>
</context>
<context>
    <name>BackupFolderUpdate</name>
    <message>
        <source>can not overwrite %1.</source>
        <translation>can not overwrite %1.</translation>
    </message>
</context>
</TS>
