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
</TS>
