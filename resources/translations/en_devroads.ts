<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>IOSLoadFileRelayThread</name>
    <message>
        <source>IDS_LOADING_IOS_DATABASES</source>
        <translation>Loading SMS from iPhone...</translation>
    </message>
    <message>
        <source>The archive entry &quot;%1&quot; would be unpacked outside its folder.</source>
        <translation>The archive entry &quot;%1&quot; would be unpacked outside its folder.</translation>
    </message>
    <message>
        <source>create %1 failed. %2</source>
        <translation>create %1 failed. %2</translation>
    </message>
    <message>
        <source>write %1 failed. %2</source>
        <translation>write %1 failed. %2</translation>
    </message>
    <message>
        <source>Received:%L1KB</source>
        <translation>Received:%L1KB</translation>
    </message>
    <message>
        <source>open %1(%2) error.</source>
        <translation>open %1(%2) error.</translation>
    </message>
    <message>
        <source>read %1 error. %2</source>
        <translation>read %1 error. %2</translation>
    </message>
    <message>
        <source>Extracting %1</source>
        <translation>Extracting %1</translation>
    </message>
    <message>
        <source>The archive entry &quot;%1&quot; would be unpacked through the link %2.</source>
        <translation>The archive entry &quot;%1&quot; would be unpacked through the link %2.</translation>
    </message>
    <message>
        <source>create %1 error. %2</source>
        <translation>create %1 error. %2</translation>
    </message>
    <message>
        <source>Extracted: %L1KB / %L2KB</source>
        <translation>Extracted: %L1KB / %L2KB</translation>
    </message>
    <message>
        <source>write %1 error. %2</source>
        <translation>write %1 error. %2</translation>
    </message>
    <message>
        <source>The archive %1 ends before %2 is complete.</source>
        <translation>The archive %1 ends before %2 is complete.</translation>
    </message>
</context>
<context>
    <name>IOSMobileBackupThread</name>
    <message>
        <source>IDS_BACKING_UP_IOS</source>
        <translation>Backing up iPhone...</translation>
    </message>
    <message>
        <source>The device identifier &quot;%1&quot; cannot name a backup folder.</source>
        <translation>The device identifier &quot;%1&quot; cannot name a backup folder.</translation>
    </message>
    <message>
        <source>Can not remove the earlier backup %1.</source>
        <translation>Can not remove the earlier backup %1.</translation>
    </message>
    <message>
        <source>&lt;br/&gt;&lt;br/&gt;Note: You can restart your device to try again.</source>
        <translation>&lt;br/&gt;&lt;br/&gt;Note: You can restart your device to try again.</translation>
    </message>
</context>
<context>
    <name>IOSMobileRestoreThread</name>
    <message>
        <source>IDS_RESTORING_BACKUP_TO_IOS</source>
        <translation>Restoring iPhone...</translation>
    </message>
    <message>
        <source>Please follow &lt;a href=&quot;%1&quot;&gt; this tutorial&lt;/a&gt; to disable &quot;Find my iPhone&quot; first and then restart your iPhone to try again.&lt;br/&gt;&lt;br/&gt;</source>
        <translation>Please follow &lt;a href=&quot;%1&quot;&gt; this tutorial&lt;/a&gt; to disable &quot;Find my iPhone&quot; first and then restart your iPhone to try again.&lt;br/&gt;&lt;br/&gt;</translation>
    </message>
    <message>
        <source>%1 GB free disk space on your device is required restore data.  Please remove some camera roll videos from your device to computer to free up disk space first and then try again.</source>
        <translation>%1 GB free disk space on your device is required restore data.  Please remove some camera roll videos from your device to computer to free up disk space first and then try again.</translation>
    </message>
    <message>
        <source>&lt;br/&gt;&lt;br/&gt;Note: You can restart your device to try again.</source>
        <translation>&lt;br/&gt;&lt;br/&gt;Note: You can restart your device to try again.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Notes:&lt;/b&gt; If your iPhone is protected with a passcode, please enter your passcode on iPhone first.&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;b&gt;Notes:&lt;/b&gt; If your iPhone is protected with a passcode, please enter your passcode on iPhone first.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>IDS_ANDROID_%1_CANT_READ_MMC_NUMBER</source>
        <translation>Failed to load country code from your phone. Please click &quot;OK&quot; button to select a country code manually.</translation>
    </message>
    <message>
        <source>%1, line:%2</source>
        <translation>%1, line:%2</translation>
    </message>
</context>
</TS>
