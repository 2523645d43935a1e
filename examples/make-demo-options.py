#!/usr/bin/env python3
"""Writes examples/demo.qfo: the options file the demo runs with.

Paths are relative, so the demo runs from any folder holding TextFiles/ and
Manual/: each email becomes a numbered text file, attachments are turned into
text, processed emails are tagged "*QF* " and marked read.  The file uses the
program's options-file format (version 17)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def integer(v):
    if -128 <= v <= 127:
        return b"\x02" + struct.pack("<b", v)
    if -32768 <= v <= 32767:
        return b"\x03" + struct.pack("<h", v)
    return b"\x04" + struct.pack("<i", v)


def string(s):
    b = s.encode("utf-8")
    if len(b) <= 255:
        return b"\x06" + bytes([len(b)]) + b
    return b"\x0c" + struct.pack("<I", len(b)) + b


def boolean(v):
    return b"\x09" if v else b"\x08"


def identifier(data=bytes(24)):
    return integer(len(data)) + b"".join(integer(x) for x in data)


CRLF = "\r\n"
STARS = "*" * 52
EXTS = [".doc", ".html", ".htm", ".dot", ".rtf", ".txt", ".asc", ".ans", ".wri", ".mcw",
        ".wpd", ".wps", ".zip", ".pdf", ".exe", ".tif", ".gif", ".bmp", ".vcf", ".docx", ".odt"]
ACTS = ["1", "1", "1", "1", "1", "6", "6", "6", "1", "1", "1", "1", "2", "5", "3", "3", "3",
        "3", "3", "1", "1"]

values = b"".join([
    integer(17),
    string(CRLF + "This is a Quillfence options file, a program for saving emails and "
           "attachments to plain text from MAPI clients. To find out more go to "
           "https://quillfence.example/" + CRLF),
    string(""),                      # filterFilename: no filter tool
    string("TextFiles/"),            # Directory
    integer(1),                      # firstNumber
    string("%5.5d.txt"),             # FileNameFormat
    boolean(False),                  # include subject
    string(CRLF + STARS + CRLF + "Attached file: %FILENAME" + CRLF),
    string(CRLF + STARS + CRLF),
    boolean(True),                   # includeAttachments
    string(""),                      # messageDestination
    string(""), boolean(False), string(""), string(""),
    string("From: %FROM" + CRLF + "Sent: %SENT" + CRLF + "To: %TO" + CRLF +
           "Subject: %SUBJECT" + CRLF),
    string(""),                      # emailFooter
    integer(2),                      # emailsTo: tag the subject
    boolean(True),                   # emailsFrom: default inbox
    string(""),                      # messageSource
    string(""),
    boolean(False),                  # reprocess emails
    integer(1),                      # sortOrder: date received
    boolean(False),                  # descending
    string("*QF* "),                 # tagText
    string("".join(e + CRLF for e in EXTS)),
    string("".join(a + CRLF for a in ACTS)),
    identifier(), identifier(),
    integer(0), integer(0), string(""), string(""),
    string("Manual/"),               # manualFolder
    string("%FROM_%NUMBER"),         # manualFormat
    identifier(), identifier(),
    boolean(True),                   # readStatus
    string(""),                      # wordMacro
])

data = (b"TPF0" + b"\x09TSettings" + b"\x00" + b"\x09TSettings" + values + b"\x00\x00")
with open(os.path.join(HERE, "demo.qfo"), "wb") as f:
    f.write(data)
print("wrote demo.qfo")
