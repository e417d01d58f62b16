<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>IOS5MessageDb</name>
    <message>
        <source>%1 is not a message database: it has no table %2.</source>
        <translation>%1 is not a message database: it has no table %2.</translation>
    </message>
</context>
</TS>
