// Each property of a varied set of real-looking messages, read through the
// platform from a real Maildir.
#include "maildir_fixture.h"

namespace qf::mapi::testing {
namespace {

struct MessageCase {
    const char* name;
    std::string bytes;
    std::string subject;
    std::string sender;
    std::string to;
    std::string body;                     // the plain body, exactly
    bool html;                            // an HTML body is there
    std::vector<std::string> attachments; // long file names ("" for an unnamed message)
};

const std::string kHead = "From: Anna Berg <anna@example.org>\n"
                          "To: jobs@example.com\n"
                          "Date: Tue, 02 Jun 2026 10:00:00 +0200\n";

std::vector<MessageCase> Cases() {
    return {
        {"utf8 base64 subject in two words, the first padded",
         "From: a@example.org\nSubject: =?UTF-8?B?R3LDvMOfZQ==?= =?UTF-8?B?IGF1cyBLw7Zsbg==?=\n"
         "\nbody\n",
         "Grüße aus Köln",
         "a@example.org",
         "",
         "body\n",
         false,
         {}},
        {"iso-8859-1 quoted-printable subject",
         kHead + "Subject: =?ISO-8859-1?Q?Bewerbung_f=FCr_M=FCnchen?=\n\nx\n",
         "Bewerbung für München",
         "anna@example.org",
         "jobs@example.com",
         "x\n",
         false,
         {}},
        {"raw 8-bit subject read as Windows-1252",
         kHead + "Subject: Caf\xe9 \x80 5\n\nx\n",
         "Café € 5",
         "anna@example.org",
         "jobs@example.com",
         "x\n",
         false,
         {}},
        {"quoted-printable latin-1 body",
         kHead + "Subject: qp\nMIME-Version: 1.0\n"
                 "Content-Type: text/plain; charset=iso-8859-1\n"
                 "Content-Transfer-Encoding: quoted-printable\n\nGr=FC=DFe=\nweiter\n",
         "qp",
         "anna@example.org",
         "jobs@example.com",
         "Grüßeweiter\n",
         false,
         {}},
        {"base64 utf-8 body",
         kHead + "Subject: b64\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n"
                 "Content-Transfer-Encoding: base64\n\nSGFsbG8gV2VsdCwgc2Now7ZuZSBHcsO8w59lCg==\n",
         "b64",
         "anna@example.org",
         "jobs@example.com",
         "Hallo Welt, schöne Grüße\n",
         false,
         {}},
        {"text and HTML alternatives",
         kHead + "Subject: alt\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/alternative; boundary=\"b1\"\n\n"
                 "--b1\nContent-Type: text/plain; charset=us-ascii\n\nplain text\n"
                 "--b1\nContent-Type: text/html; charset=us-ascii\n\n<p>html text</p>\n"
                 "--b1--\n",
         "alt",
         "anna@example.org",
         "jobs@example.com",
         "plain text",
         true,
         {}},
        {"HTML only: a plain body made from the HTML",
         kHead + "Subject: html\nMIME-Version: 1.0\nContent-Type: text/html; charset=utf-8\n\n"
                 "<html><head><title>T</title><style>p{color:red}</style></head><body>"
                 "<p>Hello&nbsp;<b>W&ouml;rld</b></p><p>Line2<br>Line3 &amp; more</p>"
                 "<ul><li>one</li><li>two</li></ul></body></html>\n",
         "html",
         "anna@example.org",
         "jobs@example.com",
         "Hello Wörld\n\nLine2\nLine3 & more\n\n* one\n* two",
         true,
         {}},
        {"nested message with an attachment of its own",
         kHead + "Subject: Fwd: Inner\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
                 "--outer\nContent-Type: text/plain\n\nouter body\n"
                 "--outer\nContent-Type: message/rfc822\n\n"
                 "From: inner@example.net\nSubject: Inner\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/mixed; boundary=\"inner\"\n\n"
                 "--inner\nContent-Type: text/plain\n\ninner body\n"
                 "--inner\nContent-Type: application/pdf; name=\"inner.pdf\"\n"
                 "Content-Disposition: attachment; filename=\"inner.pdf\"\n"
                 "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQgaW5uZXI=\n"
                 "--inner--\n"
                 "--outer--\n",
         "Fwd: Inner",
         "anna@example.org",
         "jobs@example.com",
         "outer body",
         false,
         {""}},
        {"missing Content-Type, UTF-8 text",
         kHead + "Subject: none\n\nschöne Grüße\n",
         "none",
         "anna@example.org",
         "jobs@example.com",
         "schöne Grüße\n",
         false,
         {}},
        {"missing Content-Type, Latin-1 text",
         kHead + "Subject: none\n\nsch\xf6n\n",
         "none",
         "anna@example.org",
         "jobs@example.com",
         "schön\n",
         false,
         {}},
        {"no charset, ISO-8859-2 text: the bytes say what they are",
         kHead + "Subject: cv\nMIME-Version: 1.0\nContent-Type: text/plain\n\n"
                 "\xAFyciorys: \xA3ukasz W\xF3jcik, ulica \xA6wi\xEAtokrzyska 12, \xA3\xF3"
                 "d\xBC. "
                 "Do\xB6wiadczenie zawodowe: programista, zarz\xB1"
                 "dzanie zespo\xB3"
                 "em, j\xEAzyki obce.\n",
         "cv",
         "anna@example.org",
         "jobs@example.com",
         "Życiorys: Łukasz Wójcik, ulica Świętokrzyska 12, Łódź. "
         "Doświadczenie zawodowe: programista, zarządzanie zespołem, języki obce.\n",
         false,
         {}},
        {"boundary that never occurs",
         kHead + "Subject: broken\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/mixed; boundary=\"NEVER\"\n\n"
                 "Dear team,\nplease find my resume.\n",
         "broken",
         "anna@example.org",
         "jobs@example.com",
         "Dear team,\nplease find my resume.\n",
         false,
         {}},
        {"no headers at all",
         "Just some text\nwith lines\n",
         "",
         "",
         "",
         "Just some text\nwith lines\n",
         false,
         {}},
        {"headers and no body",
         kHead + "Subject: empty",
         "empty",
         "anna@example.org",
         "jobs@example.com",
         "",
         false,
         {}},
        {"attachment names in RFC 2231 and RFC 2047",
         kHead + "Subject: cv\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/mixed; boundary=\"m\"\n\n"
                 "--m\nContent-Type: text/plain\n\nsee attached\n"
                 "--m\nContent-Type: application/pdf\n"
                 "Content-Disposition: attachment; filename*=UTF-8''Lebenslauf%20J%C3%BCrgen.pdf\n"
                 "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQgb3V0ZXI=\n"
                 "--m\nContent-Type: application/msword; "
                 "name=\"=?ISO-8859-1?Q?Zeugnis_M=FCller.doc?=\"\n"
                 "Content-Disposition: attachment\n\nDOC\n"
                 "--m\nContent-Type: application/octet-stream\n"
                 "Content-Disposition: attachment; filename=\"../../etc/passwd\"\n\nx\n"
                 "--m\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBORw0KGgo=\n"
                 "--m--\n",
         "cv",
         "anna@example.org",
         "jobs@example.com",
         "see attached",
         false,
         {"Lebenslauf Jürgen.pdf", "Zeugnis Müller.doc", "passwd", "attachment4.png"}},
        {"UTF-8 labelled Latin-1, an address list that does not parse",
         "From: Big Bug bb@bug.com\nSubject: x\nContent-Type: text/plain; charset=iso-8859-1\n\n"
         "Gr\xc3\xbc\xc3\x9f"
         "e\n",
         "x",
         "bb@bug.com",
         "",
         "Grüße\n",
         false,
         {}},
        {"recipients split by semicolons",
         "From: \"Berg, Anna\" <anna@example.org>\n"
         "To: Anna <anna@x.org>; Bob <bob@y.org>;carl@z.org\nSubject: many\n\nx\n",
         "many",
         "anna@example.org",
         "Anna; Bob; carl@z.org",
         "x\n",
         false,
         {}},
    };
}

class MessageCases : public MaildirTest {};

TEST_F(MessageCases, EveryPropertyOfAVariedSetOfMessages) {
    int n = 0;
    for (const MessageCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        for (const auto& f : MessageFiles(root_)) {
            fs::remove(f);
        }
        Deliver(c.bytes, "17000000" + std::to_string(n++) + ".M1P1.host:2,");
        auto m = OnlyMessage();
        ASSERT_TRUE(m);
        EXPECT_EQ(Text(*m, PR_SUBJECT), c.subject);
        EXPECT_EQ(Text(*m, PR_SENDER_EMAIL_ADDRESS), c.sender);
        EXPECT_EQ(Text(*m, PR_DISPLAY_TO), c.to);
        EXPECT_EQ(Body(*m), c.body);
        std::optional<PropValue> html;
        EXPECT_EQ(HrGetOneProp(*m, PR_BODY_HTML, html) == S_OK, c.html);
        std::optional<PropValue> has;
        ASSERT_EQ(HrGetOneProp(*m, PR_HASATTACH, has), S_OK);
        EXPECT_EQ(*has->Bool(), !c.attachments.empty());

        std::shared_ptr<IMAPITable> table;
        ASSERT_EQ(m->GetAttachmentTable(0, table), S_OK);
        RowSet rows;
        const PropTagArray cols{PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME, PR_ATTACH_METHOD};
        ASSERT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
        std::vector<std::string> names;
        for (const auto& r : rows) {
            names.push_back(r[1].Text() ? *r[1].Text() : "");
        }
        EXPECT_EQ(names, c.attachments);

        // The contents table says the same as the opened message.
        auto listed = Contents(*Inbox(), {PR_SUBJECT, PR_HASATTACH, PR_DISPLAY_TO});
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(*listed[0][0].Text(), c.subject);
        EXPECT_EQ(*listed[0][1].Bool(), !c.attachments.empty());
        EXPECT_EQ(*listed[0][2].Text(), c.to);
    }
}

TEST_F(MessageCases, AttachmentDataAndEmbeddedMessages) {
    Deliver(Cases()[7].bytes, "1.M1P1.host:2,");
    auto m = OnlyMessage();
    std::shared_ptr<IAttach> att;
    ASSERT_EQ(m->OpenAttach(0, Iid::IAttachment, 0x18, att), S_OK);
    std::optional<PropValue> method;
    ASSERT_EQ(HrGetOneProp(*att, PR_ATTACH_METHOD, method), S_OK);
    EXPECT_EQ(*method->Long(), static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG));

    std::shared_ptr<IUnknown> obj;
    ASSERT_EQ(att->OpenProperty(PR_ATTACH_DATA_OBJ, Iid::IMessage, 0, MAPI_DEFERRED_ERRORS, obj),
              S_OK);
    auto inner = As<IMessage>(obj);
    ASSERT_TRUE(inner);
    att.reset();
    m.reset(); // the embedded message keeps what it needs alive
    EXPECT_EQ(Text(*inner, PR_SUBJECT), "Inner");
    EXPECT_EQ(Text(*inner, PR_SENDER_EMAIL_ADDRESS), "inner@example.net");
    EXPECT_EQ(Body(*inner), "inner body");
    std::optional<PropValue> entry;
    EXPECT_EQ(HrGetOneProp(*inner, PR_ENTRYID, entry), MAPI_E_NOT_FOUND);

    std::shared_ptr<IAttach> pdf;
    ASSERT_EQ(inner->OpenAttach(0, Iid::IAttachment, 0x18, pdf), S_OK);
    EXPECT_EQ(Text(*pdf, PR_ATTACH_LONG_FILENAME), "inner.pdf");
    EXPECT_EQ(Text(*pdf, PR_ATTACH_EXTENSION), ".pdf");
    ASSERT_EQ(pdf->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, MAPI_DEFERRED_ERRORS, obj),
              S_OK);
    EXPECT_EQ(ReadStream(*As<IStream>(obj)), "%PDF-1.4 inner");
    std::optional<PropValue> size;
    ASSERT_EQ(HrGetOneProp(*pdf, PR_ATTACH_SIZE, size), S_OK);
    EXPECT_EQ(*size->Long(), 14);

    // An embedded message cannot be changed in place.
    EXPECT_EQ(HrSetOneProp(*inner, PropValue{PR_SUBJECT, std::string("x")}), MAPI_E_NO_ACCESS);
}

} // namespace
} // namespace qf::mapi::testing
