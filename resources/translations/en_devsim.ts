<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <source>The device framework is not loaded.</source>
        <translation>The device framework is not loaded.</translation>
    </message>
    <message>
        <source>The device framework has no function %1.</source>
        <translation>The device framework has no function %1.</translation>
    </message>
    <message>
        <source>Please restart your iPhone and computer to try again. If a prompt message pops out on your iPhone, please click &quot;Trust&quot;.</source>
        <translation>Please restart your iPhone and computer to try again. If a prompt message pops out on your iPhone, please click &quot;Trust&quot;.</translation>
    </message>
    <message>
        <source>Please turn off Wifi Sync on iTunes to try again.&lt;br/&gt;To do this:  Launch iTunes -&amp;gt; Connect your device -&amp;gt; Go Summary -&amp;gt; Options -&amp;gt; Uncheck Sync with this device over Wi-Fi.&lt;br/&gt;&lt;br/&gt;</source>
        <translation>Please turn off Wifi Sync on iTunes to try again.&lt;br/&gt;To do this:  Launch iTunes -&amp;gt; Connect your device -&amp;gt; Go Summary -&amp;gt; Options -&amp;gt; Uncheck Sync with this device over Wi-Fi.&lt;br/&gt;&lt;br/&gt;</translation>
    </message>
</context>
<context>
    <name>backup2tool</name>
    <message>
        <source>AppleMobileBackup stopped unexpectedly.</source>
        <translation>AppleMobileBackup stopped unexpectedly.</translation>
    </message>
    <message>
        <source>AppleMobileBackup ended with exit code %1.</source>
        <translation>AppleMobileBackup ended with exit code %1.</translation>
    </message>
</context>
<context>
    <name>IOSDevice</name>
    <message>
        <source>Failed to transfer data to device. Please turn off iCloud backup on your iPhone to try again.</source>
        <translation>Failed to transfer data to device. Please turn off iCloud backup on your iPhone to try again.</translation>
    </message>
    <message>
        <source>Failed to transfer data to device. Your iTunes backup is encrypted. Please run iTunes on computer and then uncheck &quot;Encrypt iPhone backup&quot; option to try again.</source>
        <translation>Failed to transfer data to device. Your iTunes backup is encrypted. Please run iTunes on computer and then uncheck &quot;Encrypt iPhone backup&quot; option to try again.</translation>
    </message>
</context>
</TS>
