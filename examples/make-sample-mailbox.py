#!/usr/bin/env python3
"""Builds examples/sample-maildir: a dozen applicant emails in a Maildir++ tree.

The output is committed; run this again only to change the sample.  Documents
(.doc, .docx, .pdf) are made from small HTML CVs by LibreOffice, so the script
needs `soffice` on PATH.  Dates, message ids and file names are fixed, so two
runs give the same emails (LibreOffice's document bytes may differ).
"""
import email.policy
import io
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from email.message import EmailMessage
from email.utils import format_datetime
from datetime import datetime, timezone, timedelta

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "sample-maildir")
POLICY = email.policy.SMTP


def cv_html(name, role, years):
    return (f"<html><body><h1>{name}</h1><p>Curriculum vitae</p>"
            f"<p>Applying for: {role}</p><p>Experience: {years} years in the field.</p>"
            f"<table><tr><td>Languages</td><td>English, German</td></tr></table>"
            f"</body></html>")


def convert(html, ext, filt, workdir):
    src = os.path.join(workdir, "cv.html")
    with open(src, "w", encoding="utf-8") as f:
        f.write(html)
    args = ["soffice", "--headless", "--norestore",
            f"-env:UserInstallation=file://{workdir}/profile"]
    if ext != "pdf":
        args.append('--infilter=HTML (StarWriter)')
    args += ["--convert-to", f"{ext}:{filt}", "--outdir", workdir, src]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(workdir, f"cv.{ext}"), "rb") as f:
        return f.read()


def base(n, sender, subject, body, when, to="jobs@brindle.example"):
    m = EmailMessage(policy=POLICY)
    m["From"] = sender
    m["To"] = to
    m["Subject"] = subject
    m["Date"] = format_datetime(when)
    m["Message-ID"] = f"<sample{n:02d}@applicants.example>"
    m.set_content(body)
    return m


def main():
    start = datetime(2026, 3, 2, 9, 15, tzinfo=timezone.utc)
    when = lambda i: start + timedelta(hours=7 * i)
    work = tempfile.mkdtemp(prefix="qf-sample-")
    try:
        doc = convert(cv_html("Mira Okafor", "Data Analyst", 4), "doc", "MS Word 97", work)
        docx = convert(cv_html("Jonas Weber", "Backend Developer", 7), "docx",
                       "MS Word 2007 XML", work)
        pdf = convert(cv_html("Lena Virtanen", "UX Designer", 5), "pdf", "writer_pdf_Export",
                      work)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    rtf = (r"{\rtf1\ansi\deff0{\fonttbl{\f0 Times New Roman;}}"
           r"\f0\fs24 Tomasz Nowak\par Curriculum vitae\par Applying for: Support Engineer\par"
           r" Experience: 3 years.\par}").encode()
    zbuf = io.BytesIO()
    with zipfile.ZipFile(zbuf, "w") as z:
        zi = zipfile.ZipInfo("portfolio/README.txt", date_time=(2026, 3, 1, 12, 0, 0))
        z.writestr(zi, "Portfolio of Aiko Tanaka: three case studies.\n")
    msgs = []

    msgs.append(base(1, "Anna Schmidt <anna.schmidt@mail.example>",
                     "Application: Junior Accountant",
                     "Dear hiring team,\n\nplease find my application below.\n"
                     "I have two years of experience in bookkeeping.\n\nKind regards,\nAnna Schmidt\n",
                     when(0)))

    m = base(2, "Peter Brown <p.brown@post.example>", "CV attached - Warehouse Supervisor",
             "Hello,\n\nmy CV is attached as a text file.\n\nPeter\n", when(1))
    m.add_attachment("PETER BROWN\nWarehouse Supervisor\n10 years of logistics.\n",
                     filename="Peter_Brown_CV.txt")
    msgs.append(m)

    m = base(3, "=?utf-8?q?Ren=C3=A9e_Lef=C3=A8vre?= <renee@courriel.example>",
             "Candidature : Développeuse – poste n° 42",
             "Bonjour,\n\nVeuillez trouver ci-joint ma candidature.\n\nRenée Lefèvre\n", when(2))
    msgs.append(m)

    m = base(4, "Mira Okafor <mira.okafor@mail.example>", "Data Analyst application",
             "Hi,\n\nattached is my CV in Word format.\n\nBest,\nMira\n", when(3))
    m.add_attachment(doc, maintype="application", subtype="msword", filename="Mira_Okafor_CV.doc")
    msgs.append(m)

    m = base(5, "Jonas Weber <jonas@weber.example>", "Bewerbung Backend Developer",
             "Guten Tag,\n\nanbei mein Lebenslauf.\n\nMit freundlichen Grüßen\nJonas Weber\n",
             when(4))
    m.add_attachment(docx, maintype="application",
                     subtype="vnd.openxmlformats-officedocument.wordprocessingml.document",
                     filename="Lebenslauf Jonas Weber.docx")
    msgs.append(m)

    m = base(6, "Tomasz Nowak <tnowak@poczta.example>", "Support Engineer - CV (RTF)",
             "Hello,\n\nCV in RTF attached.\n\nTomasz\n", when(5))
    m.add_attachment(rtf, maintype="application", subtype="rtf", filename="Nowak_CV.rtf")
    msgs.append(m)

    m = base(7, "Lena Virtanen <lena.v@posti.example>", "UX Designer position",
             "Hi there,\n\nmy CV as a PDF.\n\nLena\n", when(6))
    m.add_attachment(pdf, maintype="application", subtype="pdf", filename="Lena_Virtanen.pdf")
    msgs.append(m)

    m = base(8, "Aiko Tanaka <aiko@tanaka.example>", "Portfolio for Graphic Designer role",
             "Hello,\n\nmy portfolio is in the zip file.\n\nAiko\n", when(7))
    m.add_attachment(zbuf.getvalue(), maintype="application", subtype="zip",
                     filename="portfolio.zip")
    msgs.append(m)

    m = base(9, "Carlos Ruiz <carlos.ruiz@correo.example>", "Application - Sales Manager",
             "", when(8))
    m.set_content("Dear recruiter,\n\nI would like to apply for the Sales Manager role.\n\nCarlos\n")
    m.add_alternative("<html><body><p>Dear recruiter,</p><p>I would like to apply for the "
                      "<b>Sales Manager</b> role.</p><p>Carlos</p></body></html>", subtype="html")
    msgs.append(m)

    m = EmailMessage(policy=POLICY)
    m["From"] = "Sofia Rossi <sofia.rossi@posta.example>"
    m["To"] = "jobs@brindle.example"
    m["Subject"] = "Receptionist vacancy"
    m["Date"] = format_datetime(when(9))
    m["Message-ID"] = "<sample10@applicants.example>"
    m.set_content("<html><body><p>Good morning,</p><p>I am applying for the receptionist "
                  "vacancy. I speak Italian and English.</p><p>Sofia Rossi</p></body></html>",
                  subtype="html")
    msgs.append(m)

    inner = base(0, "Ben Carter <ben.carter@mail.example>", "My application - Electrician",
                 "Hi,\n\nI am a licensed electrician with 12 years of experience.\n\nBen\n",
                 when(9) - timedelta(days=3))
    inner.replace_header("Message-ID", "<forwarded-ben@mail.example>")
    inner.add_attachment("BEN CARTER\nLicensed electrician\n", filename="Ben_Carter_CV.txt")
    m = base(11, "Hannah Lee <hannah.lee@brindle.example>", "Fwd: My application - Electrician",
             "Forwarding Ben's application from the job fair.\n\nHannah\n", when(10))
    m.add_attachment(inner)
    msgs.append(m)

    m = base(12, "=?iso-8859-1?q?J=F8rgen_Hansen?= <jorgen@post.example>",
             "=?iso-8859-1?q?Ans=F8gning_-_Lagerarbejder?=",
             "Hej,\n\njeg søger stillingen som lagerarbejder.\n\nJørgen\n", when(11))
    msgs.append(m)

    shutil.rmtree(OUT, ignore_errors=True)
    for sub in ("cur", "new", "tmp", ".Processed/cur", ".Processed/new", ".Processed/tmp"):
        os.makedirs(os.path.join(OUT, sub))
    for i, m in enumerate(msgs, 1):
        t = int(when(i - 1).timestamp())
        name = f"{t}.M{i:06d}P1.sample:2,"
        data = m.as_bytes(policy=POLICY)
        path = os.path.join(OUT, "cur", name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (t, t))
    print(f"wrote {len(msgs)} emails to {OUT}")


if __name__ == "__main__":
    sys.exit(main())
