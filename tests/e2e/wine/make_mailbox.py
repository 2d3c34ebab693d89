#!/usr/bin/python3
"""Writes a mailbox of N .eml files for the Windows end-to-end run: folders with non-ASCII
names, a branch nested so deep that its paths pass 260 characters, messages with non-ASCII
headers and bodies, HTML, and small attachments.

Usage: make_mailbox.py DIR [N]   (prints the number of files and the longest path)
"""
import base64
import os
import sys

root = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000

folders = [
    "Inbox",
    "Sent",
    "Café Überblick",
    "日本語のフォルダ",
    "Проекты/Архив 2024",
    # Six levels of 48 characters: every file below passes 300 characters.
    "/".join(f"Deep level {i} with a long name to pass the limit ÄÖÜ" [:48] for i in range(6)),
]

subjects = ["Quarterly figures", "Grüße aus München", "会議の議事録", "Re: Отчёт за квартал",
            "FW: Ça marche ✓", "Invoice 2024-117"]


def message(i, folder):
    subject = f"{subjects[i % len(subjects)]} #{i}"
    sender = ["Zoë Müller <zoe@example.org>", "=?UTF-8?B?5bGx55Sw?= <yamada@example.jp>",
              "Bob <bob@example.com>"][i % 3]
    headers = (f"From: {sender}\r\nTo: Team <team@example.com>\r\n"
               f"Subject: =?UTF-8?B?{base64.b64encode(subject.encode()).decode()}?=\r\n"
               f"Date: Mon, {1 + i % 28:d} Dec 2025 10:{i % 60:02d}:00 +0100\r\n"
               f"Message-ID: <m{i}@example.com>\r\nMIME-Version: 1.0\r\n")
    text = f"Hello from {folder}, message {i}.\r\nGrüße, ünïcödé ✓ 日本語\r\n" * (1 + i % 5)
    if i % 4 == 0:
        return headers + ("Content-Type: text/plain; charset=utf-8\r\n"
                          "Content-Transfer-Encoding: 8bit\r\n\r\n" + text)
    html = "<html><body><p>" + text.replace("\r\n", "<br>") + "</p></body></html>"
    parts = [("text/plain; charset=utf-8", "8bit", text),
             ("text/html; charset=utf-8", "8bit", html)]
    body = "--alt\r\n" + "".join(
        f"Content-Type: {t}\r\nContent-Transfer-Encoding: {e}\r\n\r\n{b}\r\n--alt\r\n"
        for t, e, b in parts)[:-2] + "--\r\n"
    if i % 3:
        return headers + 'Content-Type: multipart/alternative; boundary="alt"\r\n\r\n' + body
    data = base64.encodebytes(bytes(range(256)) * (1 + i % 8)).decode().replace("\n", "\r\n")
    return (headers + 'Content-Type: multipart/mixed; boundary="mix"\r\n\r\n--mix\r\n'
            'Content-Type: multipart/alternative; boundary="alt"\r\n\r\n' + body +
            "--mix\r\nContent-Type: application/octet-stream\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            f"Content-Disposition: attachment; filename*=UTF-8''%C3%BCbersicht-{i}.bin\r\n\r\n" +
            data + "--mix--\r\n")


longest = 0
for i in range(count):
    folder = folders[i % len(folders)]
    d = os.path.join(root, folder)
    os.makedirs(d, exist_ok=True)
    name = f"{i:05d} {subjects[i % len(subjects)].replace(':', '').replace('/', ' ')}.eml"
    path = os.path.join(d, name)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(message(i, folder))
    longest = max(longest, len(path) - len(root))
print(f"{count} files, longest path below the root {longest} characters")
