<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Conversations</source>
        <translation>Conversations</translation>
    </message>
    <message>
        <source>Messages: 0</source>
        <translation>SMS: 0</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>IDS_NONE_INSTALL_ITUNES</source>
        <translation>Failed to load (Apple Mobile Device) framework. Plese click &lt;a href=&quot;%1&quot;&gt;HERE&lt;/a&gt; for help.</translation>
    </message>
</context>
<context>
    <name>UpdateChecker</name>
    <message>
        <source>A new version of %1 is available. Would you like to download it now?</source>
        <translation>A new version of %1 is available. Would you like to download it now?</translation>
    </message>
</context>
</TS>
