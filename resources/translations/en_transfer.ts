<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ExportOutput</name>
    <message>
        <source>can not create folder %1.</source>
        <translation>can not create folder %1.</translation>
    </message>
    <message>
        <source>can not write %1. %2</source>
        <translation>can not write %1. %2</translation>
    </message>
</context>
<context>
    <name>ExportSMSThread</name>
    <message>
        <source>IDS_EXPORTING_MESSAGES_TO_FILE</source>
        <translation>Exporting SMS...</translation>
    </message>
    <message>
        <source>Messages: %1/%2</source>
        <translation>SMS: %1/%2</translation>
    </message>
    <message>
        <source>IDS_SUC_EXPORT_%1_MMS</source>
        <translation>Successfully exported %1 SMS.</translation>
    </message>
</context>
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
