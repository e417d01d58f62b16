<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ExportMessagesTxt</name>
    <message>
        <source>Unknown</source>
        <translation>Unknown</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Quenmarvile Larkspan</source>
        <translation>Quenmarvile Larkspan</translation>
    </message>
    <message>
        <source>Could not write %1.</source>
        <translation>Could not write %1.</translation>
    </message>
</context>
<context>
    <name>SMSPrinter</name>
    <message>
        <source>IDS_PRINT_SMS</source>
        <translation>Print SMS</translation>
    </message>
</context>
</TS>
