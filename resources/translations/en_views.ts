<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ItemModelMain</name>
    <message>
        <source>IDS_ROOT_DEVICE</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>IDS_ROOT_LOCALDB</source>
        <translation>Local Databases</translation>
    </message>
</context>
<context>
    <name>ItemModelSms</name>
    <message>
        <source>Date</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Flag</source>
        <translation>Flag</translation>
    </message>
    <message>
        <source>Contact</source>
        <translation>Contact</translation>
    </message>
    <message>
        <source>Content</source>
        <translation>Content</translation>
    </message>
    <message>
        <source>To</source>
        <translation>To</translation>
    </message>
    <message>
        <source>From</source>
        <translation>From</translation>
    </message>
</context>
<context>
    <name>SmsBrowser</name>
    <message>
        <source>To:</source>
        <translation>To:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>From:</translation>
    </message>
    <message>
        <source>Previous Page</source>
        <translation>Previous Page</translation>
    </message>
    <message>
        <source>Next Page</source>
        <translation>Next Page</translation>
    </message>
</context>
</TS>
