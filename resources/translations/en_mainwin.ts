<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>UpdateChecker</name>
    <message>
        <source>A new version of %1 is available. Would you like to download it now?</source>
        <translation>A new version of %1 is available. Would you like to download it now?</translation>
    </message>
</context>
</TS>
