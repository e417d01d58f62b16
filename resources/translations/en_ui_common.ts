<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ProgressForm</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Progress:%1%</source>
        <translation>Progress:%1%</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>An Error Occurred. &lt;br/&gt;&lt;br/&gt;%1&lt;br/&gt;&lt;br/&gt;</source>
        <translation>An Error Occurred. &lt;br/&gt;&lt;br/&gt;%1&lt;br/&gt;&lt;br/&gt;</translation>
    </message>
    <message>
        <source> Or you can contact %1 for help.</source>
        <translation> Or you can contact %1 for help.</translation>
    </message>
</context>
</TS>
