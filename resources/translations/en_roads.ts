<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>Text Files(*.txt)</source>
        <translation>Text Files(*.txt)</translation>
    </message>
    <message>
        <source>Doc Files(*.doc)</source>
        <translation>Doc Files(*.doc)</translation>
    </message>
    <message>
        <source>CSV Files(*.csv)</source>
        <translation>CSV Files(*.csv)</translation>
    </message>
    <message>
        <source>PDF Files(*.pdf)</source>
        <translation>PDF Files(*.pdf)</translation>
    </message>
    <message>
        <source>HTML Files(*.html)</source>
        <translation>HTML Files(*.html)</translation>
    </message>
    <message>
        <source>IDS_SEL_EXPORT_MESSAGES_PATH</source>
        <translation>Please select Save Path for SMS.</translation>
    </message>
    <message>
        <source>unknown export format.</source>
        <translation>unknown export format.</translation>
    </message>
</context>
</TS>
