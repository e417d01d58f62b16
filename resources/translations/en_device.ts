<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>IOSDevice</name>
    <message>
        <source>The device identifier &quot;%1&quot; cannot name a cache folder.</source>
        <translation>The device identifier &quot;%1&quot; cannot name a cache folder.</translation>
    </message>
</context>
</TS>
