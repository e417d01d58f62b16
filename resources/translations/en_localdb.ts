<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>BackupSMSThread</name>
    <message>
        <source>IDS_BACKING_UP_SMS</source>
        <translation>Backing up SMS to Local Database...</translation>
    </message>
    <message>
        <source>SMS: %1/%2</source>
        <translation>SMS: %1/%2</translation>
    </message>
    <message>
        <source>IDS_SUC_BACKUP_%1_SMS</source>
        <translation>Successfully Backup %1 SMS to local Database.</translation>
    </message>
</context>
<context>
    <name>DeleteMessagesThread</name>
    <message>
        <source>IDS_DELETING_LOCAL_DB_MESSAGES</source>
        <translation>Deleting SMS...</translation>
    </message>
    <message>
        <source>IDS_SUC_DELETE_%1_MESSAGES</source>
        <translation>Successfully Deleted %1 SMS.</translation>
    </message>
</context>
<context>
    <name>LocalDbUpdateThread</name>
    <message>
        <source>IDS_UPDATING_LOCALDB_%1</source>
        <translation>Updating local database &apos;%1&apos;...</translation>
    </message>
    <message>
        <source>SMS: %1/%2</source>
        <translation>SMS: %1/%2</translation>
    </message>
    <message>
        <source>IDS_LOCALDB_UPDATE_SUC_RESTART_REFRESH</source>
        <translation>Successfully updated local database. Please restart software.</translation>
    </message>
</context>
</TS>
