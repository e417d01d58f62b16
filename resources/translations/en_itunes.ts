<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <source>A Manifest.mbdb string cannot hold more than %1 bytes.</source>
        <translation>A Manifest.mbdb string cannot hold more than %1 bytes.</translation>
    </message>
    <message>
        <source>A Manifest.mbdb string of length %1 holds %2 bytes.</source>
        <translation>A Manifest.mbdb string of length %1 holds %2 bytes.</translation>
    </message>
    <message>
        <source>A Manifest.mbdb record cannot hold more than 255 properties.</source>
        <translation>A Manifest.mbdb record cannot hold more than 255 properties.</translation>
    </message>
    <message>
        <source>Unexpected end of data in %1.</source>
        <translation>Unexpected end of data in %1.</translation>
    </message>
    <message>
        <source>Unexpected end of data in %1 at offset %2.</source>
        <translation>Unexpected end of data in %1 at offset %2.</translation>
    </message>
    <message>
        <source>Cannot write to %1.</source>
        <translation>Cannot write to %1.</translation>
    </message>
    <message>
        <source>An AES-256 key must be 32 bytes long.</source>
        <translation>An AES-256 key must be 32 bytes long.</translation>
    </message>
</context>
</TS>
