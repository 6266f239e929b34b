#!/usr/bin/env python3
"""Reads InfluxDB line protocol on standard input and prints each line as JSON, parsed from the
protocol's published rules: backslash escapes in the measurement, tag and field keys, quoted
string fields, number types by suffix, a time stamp in integer nanoseconds."""
import json
import sys


def name(text, i, stops, escapable):
    out = []
    while i < len(text) and text[i] not in stops:
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in escapable + "\\":
            i += 1
        out.append(text[i])
        i += 1
    assert out, "empty name at %d" % i
    return "".join(out), i


def value(text, i):
    if text[i] == '"':
        out, i = [], i + 1
        while text[i] != '"':
            i += text[i] == "\\" and text[i + 1] in '"\\'
            out.append(text[i])
            i += 1
        return ["string", "".join(out)], i + 1
    j = i
    while j < len(text) and text[j] not in ", ":
        j += 1
    return ["float", float(text[i:j])], j  # an integer ("1i") or a boolean fails here


def parse(line):
    measurement, i = name(line, 0, ", ", ", ")
    tags, fields = {}, {}
    while line[i] == ",":
        key, i = name(line, i + 1, "=", ",= ")
        tags[key], i = name(line, i + 1, ", ", ",= ")
    assert line[i] == " ", "no field set"
    while line[i] == "," or (line[i] == " " and not fields):
        key, i = name(line, i + 1, "=", ",= ")
        fields[key], i = value(line, i + 1)
    stamp = line[i + 1:]
    assert line[i] == " " and stamp.isdigit(), "time stamp %r is not integer ns" % stamp
    return {"measurement": measurement, "tags": tags, "fields": fields, "time": stamp}


for raw in sys.stdin.buffer.read().split(b"\n")[:-1]:
    print(json.dumps(parse(raw.decode("utf-8"))))
