#!/usr/bin/env python3
"""Reads InfluxDB line protocol on standard input and prints each line as JSON, parsed from the
protocol's published rules and nothing of ours: escapes in measurement, tag and field keys,
quoted string fields, number types by suffix, a time stamp in integer nanoseconds."""
import json
import sys

KEY_ESCAPES = {"measurement": ", ", "key": ",= "}


def take_key(text, i, stops, escapable):
    out = []
    while i < len(text) and text[i] not in stops:
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in escapable + "\\":
            i += 1
        out.append(text[i])
        i += 1
    if not out:
        raise ValueError("empty name at %d" % i)
    return "".join(out), i


def take_value(text, i):
    if text[i] == '"':
        out, i = [], i + 1
        while text[i] != '"':
            if text[i] == "\\" and text[i + 1] in '"\\':
                i += 1
            out.append(text[i])
            i += 1
        return ["string", "".join(out)], i + 1
    j = i
    while j < len(text) and text[j] not in ", ":
        j += 1
    raw = text[i:j]
    if raw.endswith("i"):
        return ["integer", int(raw[:-1])], j
    if raw in ("t", "T", "true", "True", "f", "F", "false", "False"):
        return ["boolean", raw[0] in "tT"], j
    return ["float", float(raw)], j


def parse(line):
    measurement, i = take_key(line, 0, ", ", KEY_ESCAPES["measurement"])
    tags = {}
    while line[i] == ",":
        key, i = take_key(line, i + 1, "=", KEY_ESCAPES["key"])
        tags[key], i = take_key(line, i + 1, ", ", KEY_ESCAPES["key"])
    if line[i] != " ":
        raise ValueError("no field set")
    fields, i = {}, i
    while line[i] in ", " and (line[i] == "," or not fields):
        key, i = take_key(line, i + 1, "=", KEY_ESCAPES["key"])
        fields[key], i = take_value(line, i + 1)
    if line[i] != " ":
        raise ValueError("no time stamp")
    stamp = line[i + 1:]
    if not stamp.isdigit():
        raise ValueError("time stamp %r is not integer nanoseconds" % stamp)
    return {"measurement": measurement, "tags": tags, "fields": fields, "time": stamp}


for raw in sys.stdin.buffer.read().split(b"\n")[:-1]:
    print(json.dumps(parse(raw.decode("utf-8"))))
