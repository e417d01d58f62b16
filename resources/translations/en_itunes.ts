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
<context>
    <name>BackupManifest</name>
    <message>
        <source>Cannot read %1.</source>
        <translation>Cannot read %1.</translation>
    </message>
    <message>
        <source>Cannot find %1</source>
        <translation>Cannot find %1</translation>
    </message>
    <message>
        <source>%1 is too large to be read.</source>
        <translation>%1 is too large to be read.</translation>
    </message>
    <message>
        <source>%1 is not a valid property list.</source>
        <translation>%1 is not a valid property list.</translation>
    </message>
    <message>
        <source>Invalid device identifier &quot;%1&quot; in %2.</source>
        <translation>Invalid device identifier &quot;%1&quot; in %2.</translation>
    </message>
    <message>
        <source>Manifest.mbdb holds the path &quot;%1&quot; of the domain &quot;%2&quot;, which leads outside the backup&apos;s folders.</source>
        <translation>Manifest.mbdb holds the path &quot;%1&quot; of the domain &quot;%2&quot;, which leads outside the backup&apos;s folders.</translation>
    </message>
    <message>
        <source>No backup file to extract.</source>
        <translation>No backup file to extract.</translation>
    </message>
    <message>
        <source>Refusing to extract &quot;%1&quot;: it is not a plain file name.</source>
        <translation>Refusing to extract &quot;%1&quot;: it is not a plain file name.</translation>
    </message>
    <message>
        <source>%1 is not a regular file.</source>
        <translation>%1 is not a regular file.</translation>
    </message>
    <message>
        <source>The key of %1 cannot be unwrapped, so it cannot be decrypted.</source>
        <translation>The key of %1 cannot be unwrapped, so it cannot be decrypted.</translation>
    </message>
    <message>
        <source>%1, POLARSSL_ERR_AES_INVALID_INPUT_LENGTH.</source>
        <translation>%1, POLARSSL_ERR_AES_INVALID_INPUT_LENGTH.</translation>
    </message>
    <message>
        <source>%1 holds %2 bytes, fewer than the %3 bytes of the file it stores.</source>
        <translation>%1 holds %2 bytes, fewer than the %3 bytes of the file it stores.</translation>
    </message>
    <message>
        <source>%1 ended before the %2 bytes of the file it stores.</source>
        <translation>%1 ended before the %2 bytes of the file it stores.</translation>
    </message>
</context>
</TS>
