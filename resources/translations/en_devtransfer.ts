<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>IDS_RESTORE_IOS_TIPS_FIND_MY_IPHONE_MUST_OFF</source>
        <translation>Notes:&lt;br/&gt;
1) If your iPhone is protected with a passcode, please enter your passcode on iPhone first.&lt;br/&gt;
2) Please make sure you&apos;ve turned off &quot;iCloud Backup&quot; on your iPhone.&lt;br/&gt;
3) &quot;Find My iPhone&quot; must be disabled before restoring. Check &lt;a href=&quot;%1&quot;&gt;detail&lt;/a&gt;.</translation>
    </message>
    <message>
        <source>Failed to recover. Only iOS 6 or above is supported.</source>
        <translation>Failed to recover. Only iOS 6 or above is supported.</translation>
    </message>
    <message>
        <source>You can transfer iMessage only to an iPad/iPod. Want to continue?</source>
        <translation>You can transfer iMessage only to an iPad/iPod. Want to continue?</translation>
    </message>
    <message>
        <source>IDS_SUC_RESTORE_%1_MESSAGES_TO_IOS</source>
        <translation>Successfully recovered %1 SMS to iPhone.</translation>
    </message>
    <message>
        <source>IDS_CANT_EXPORT_ITUNES_BACKUP_IS_ENCRYPT</source>
        <translation>Failed to export SMS to iTunes backup because your current iTunes backup is encrypted.</translation>
    </message>
</context>
</TS>
