// Every message of the shared real-world corpus, placed in a Maildir, is listed
// and read (properties, body, attachments, embedded messages) without a crash.
#include "maildir_fixture.h"

namespace qf::mapi::testing {
namespace {

class RealWorldCorpus : public MaildirTest {
protected:
    // Reads everything a run would read from a message, and its embedded ones.
    void ReadAll(IMessage& m, int depth) {
        std::vector<PropValue> all;
        EXPECT_TRUE(Succeeded(m.GetProps(nullptr, 0, all)));
        Body(m);
        std::shared_ptr<IUnknown> html;
        m.OpenProperty(PR_BODY_HTML, Iid::IStream, 0, MAPI_DEFERRED_ERRORS, html);
        std::shared_ptr<IMAPITable> table;
        ASSERT_EQ(m.GetAttachmentTable(0, table), S_OK);
        RowSet rows;
        const PropTagArray cols{PR_ATTACH_NUM,           PR_ATTACH_EXTENSION, PR_ATTACH_METHOD,
                                PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME,  PR_ATTACH_SIZE};
        ASSERT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
        for (const auto& r : rows) {
            ASSERT_TRUE(r[0].Long());
            std::shared_ptr<IAttach> a;
            ASSERT_EQ(
                m.OpenAttach(static_cast<std::uint32_t>(*r[0].Long()), Iid::IAttachment, 0x18, a),
                S_OK);
            std::shared_ptr<IUnknown> obj;
            ASSERT_EQ(a->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, 0, obj), S_OK);
            // The content read as a stream is as long as its size says
            // (which the whole decoding gives).
            ASSERT_TRUE(r[5].Long());
            EXPECT_EQ(ReadStream(*As<IStream>(obj)).size(), static_cast<std::size_t>(*r[5].Long()));
            if (*r[2].Long() == static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG) && depth < 4) {
                ASSERT_EQ(a->OpenProperty(PR_ATTACH_DATA_OBJ, Iid::IMessage, 0, 0, obj), S_OK);
                ReadAll(*As<IMessage>(obj), depth + 1);
            }
        }
    }
};

TEST_F(RealWorldCorpus, EveryMessageIsListedAndReadWithoutACrash) {
    const char* shared = std::getenv("QF_SHARED_DIR");
    const fs::path corpus = fs::path(shared ? shared : "../shared") / "corpus" / "real-world";
    if (!fs::exists(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus;
    }
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
        if (e.is_regular_file() && e.path().extension() == ".eml") {
            fs::copy_file(e.path(), root_ / "cur" / (std::to_string(++n) + ".M1P1.host:2,"));
        }
    }
    ASSERT_GT(n, 90);
    std::shared_ptr<IMAPITable> table;
    ASSERT_EQ(Inbox()->GetContentsTable(0, table), S_OK);
    ASSERT_EQ(table->SetColumns({PR_HASATTACH, PR_STORE_SUPPORT_MASK, PR_DISPLAY_TO,
                                 PR_SENDER_EMAIL_ADDRESS, PR_MESSAGE_FLAGS, PR_SUBJECT,
                                 PR_MESSAGE_SIZE, PR_MESSAGE_DELIVERY_TIME, PR_ENTRYID},
                                0),
              S_OK);
    ASSERT_EQ(table->SortTable({{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_ASCEND}}, 0), S_OK);
    int listed = 0;
    for (;;) {
        RowSet rows;
        ASSERT_EQ(table->QueryRows(25, 0, rows), S_OK);
        if (rows.empty()) {
            break;
        }
        for (const auto& r : rows) {
            ++listed;
            ASSERT_TRUE(r[8].Bin());
            auto m = OpenMessage(*r[8].Bin());
            ASSERT_TRUE(m);
            SCOPED_TRACE(Text(*m, PR_SUBJECT));
            // The listing (headers first, structure only when needed) agrees with
            // the opened message.
            std::optional<PropValue> has;
            ASSERT_EQ(HrGetOneProp(*m, PR_HASATTACH, has), S_OK);
            ASSERT_TRUE(r[0].Bool());
            EXPECT_EQ(*r[0].Bool(), *has->Bool());
            EXPECT_EQ(r[5].Text() ? *r[5].Text() : "", Text(*m, PR_SUBJECT));
            ReadAll(*m, 0);
        }
    }
    EXPECT_EQ(listed, n);
}

} // namespace
} // namespace qf::mapi::testing
