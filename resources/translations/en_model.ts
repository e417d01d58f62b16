<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>_MsgChat</name>
    <message>
        <source>Unknown</source>
        <translation>Unknown</translation>
    </message>
</context>
<context>
    <name>_MsgMessage</name>
    <message>
        <source>unknown</source>
        <translation>unknown</translation>
    </message>
</context>
</TS>
