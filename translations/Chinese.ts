<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Widget</name>
    <message>
        <source>Quorvel</source>
        <translation>Quorvel 温湿度模块配置工具</translation>
    </message>
</context>
</TS>
