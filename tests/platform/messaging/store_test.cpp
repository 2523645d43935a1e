// The Maildir store through the platform: stores, folders, tables in batches,
// and the changes (read flag, subject, body, move) surviving a fresh read.
#include "maildir_fixture.h"

#include "platform/messaging/change_batch.h"

#include "platform/messaging/entryid.h"
#include "platform/messaging/maildir/names.h"
#include "platform/messaging/maildir/recovery.h"
#include "platform/messaging/modified_utf7.h"
#include "platform/messaging/store_moves.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/stat.h>

namespace qf::mapi::testing {
namespace {

std::string Message(const std::string& subject, const std::string& date,
                    const std::string& body = "Hello\n") {
    return "From: Anna <anna@example.org>\nTo: jobs@example.com\nSubject: " + subject +
           "\nDate: " + date + "\nMessage-ID: <" + subject + "@example.org>\n\n" + body;
}

class StoreTest : public MaildirTest {};

TEST_F(StoreTest, StoresTableNamesTheDefaultStoreAndItsInbox) {
    Store();
    std::shared_ptr<IMAPITable> table;
    ASSERT_EQ(session_->GetMsgStoresTable(0, table), S_OK);
    RowSet rows;
    const PropTagArray cols{PR_DISPLAY_NAME, PR_ENTRYID, PR_DEFAULT_STORE};
    ASSERT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(*rows[0][0].Text(), "Personal Folders");
    EXPECT_EQ(rows[0][1].Bin()->size(), 24u);
    EXPECT_TRUE(*rows[0][2].Bool());

    std::optional<PropValue> ipm;
    ASSERT_EQ(HrGetOneProp(Store(), PR_IPM_SUBTREE_ENTRYID, ipm), S_OK);
    EntryId inbox;
    std::string cls;
    ASSERT_EQ(Store().GetReceiveFolder("IPM", 0, inbox, &cls), S_OK);
    EXPECT_EQ(inbox, *ipm->Bin()); // the root is the inbox
    EXPECT_EQ(Text(*OpenFolder(inbox), PR_DISPLAY_NAME), "Inbox");
}

TEST_F(StoreTest, HierarchyFollowsMaildirPlusPlus) {
    MakeMaildir(root_ / ".Bewerbungen");
    MakeMaildir(root_ / ".Bewerbungen.Erledigt");
    MakeMaildir(root_ / ".Entw&APw-rfe");
    fs::create_directories(root_ / ".NotAFolder"); // no cur/: not a folder
    auto hierarchy = [&](IMAPIFolder& f) {
        std::shared_ptr<IMAPITable> t;
        EXPECT_EQ(f.GetHierarchyTable(0, t), S_OK);
        RowSet rows;
        const PropTagArray cols{PR_DISPLAY_NAME, PR_ENTRYID, PR_SUBFOLDERS};
        EXPECT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, rows), S_OK);
        return rows;
    };
    auto top = hierarchy(*Inbox());
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(*top[0][0].Text(), "Bewerbungen");
    EXPECT_TRUE(*top[0][2].Bool());
    EXPECT_EQ(*top[1][0].Text(), "Entwürfe");
    EXPECT_FALSE(*top[1][2].Bool());
    auto below = hierarchy(*OpenFolder(*top[0][1].Bin()));
    ASSERT_EQ(below.size(), 1u);
    EXPECT_EQ(*below[0][0].Text(), "Erledigt");
}

// Enough messages for the header blocks to be read on two threads.
TEST_F(StoreTest, ManyMessagesComeInBatchesOf25SortedBySubmitTime) {
    constexpr int kCount = 160;
    for (int i = 0; i < kCount; ++i) {
        // File order is the reverse of date order.
        char date[64];
        std::snprintf(date, sizeof date, "Mon, 01 Jun 2026 %02d:%02d:00 +0000", i / 60, i % 60);
        char subject[16];
        std::snprintf(subject, sizeof subject, "m%d", i);
        Deliver(Message(subject, date), std::to_string(2000 - i) + ".M1P1.host", {}, "new");
    }
    std::shared_ptr<IMAPITable> table;
    ASSERT_EQ(Inbox()->GetContentsTable(0, table), S_OK);
    ASSERT_EQ(table->SetColumns({PR_SUBJECT, PR_CLIENT_SUBMIT_TIME, PR_ENTRYID}, 0), S_OK);
    ASSERT_EQ(table->SortTable({{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_ASCEND}}, 0), S_OK);
    std::uint32_t count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, static_cast<std::uint32_t>(kCount));
    std::vector<std::size_t> batches;
    std::vector<std::string> subjects;
    for (;;) {
        RowSet rows;
        ASSERT_EQ(table->QueryRows(25, 0, rows), S_OK);
        batches.push_back(rows.size());
        if (rows.empty()) {
            break;
        }
        for (auto& r : rows) {
            subjects.push_back(*r[0].Text());
        }
    }
    EXPECT_EQ(batches, (std::vector<std::size_t>{25, 25, 25, 25, 25, 25, 10, 0}));
    ASSERT_EQ(subjects.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(subjects[static_cast<std::size_t>(i)], "m" + std::to_string(i));
    }
}

TEST_F(StoreTest, EmptyFolderHasNoRows) {
    std::shared_ptr<IMAPITable> table;
    ASSERT_EQ(Inbox()->GetContentsTable(0, table), S_OK);
    std::uint32_t count = 1;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(StoreTest, ReadFlagIsARenameAddingS) {
    Deliver(Message("r", "Mon, 01 Jun 2026 10:00:00 +0000"), "100.M1P1.host", {}, "new");
    auto m = OnlyMessage();
    std::optional<PropValue> flags;
    ASSERT_EQ(HrGetOneProp(*m, PR_MESSAGE_FLAGS, flags), S_OK);
    EXPECT_EQ(*flags->Long() & MSGFLAG_READ, 0);
    ASSERT_EQ(m->SetReadFlag(SUPPRESS_RECEIPT), S_OK);
    auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], root_ / "cur" / "100.M1P1.host:2,S");
    Reopen();
    ASSERT_EQ(HrGetOneProp(*OnlyMessage(), PR_MESSAGE_FLAGS, flags), S_OK);
    EXPECT_EQ(*flags->Long() & MSGFLAG_READ, static_cast<std::int32_t>(MSGFLAG_READ));
}

TEST_F(StoreTest, SubjectAndBodyChangesSurviveARereadAndKeepTheRest) {
    Deliver("From: a@example.org\nSubject: Old\nX-Custom: kept\nMIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"m\"\n\n"
            "--m\nContent-Type: text/plain; charset=iso-8859-1\n\nold body\n"
            "--m\nContent-Type: application/pdf; name=cv.pdf\n"
            "Content-Disposition: attachment; filename=cv.pdf\n"
            "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQgb3V0ZXI=\n--m--\n",
            "200.M1P1.host:2,S");
    // A mailbox shared with a group: its messages are group-readable.
    ASSERT_EQ(::chmod((root_ / "cur" / "200.M1P1.host:2,S").c_str(), 0640), 0);
    auto m = OnlyMessage();
    std::optional<PropValue> idBefore;
    ASSERT_EQ(HrGetOneProp(*m, PR_ENTRYID, idBefore), S_OK);
    // The body, through a stream as the mail layer writes it.
    std::shared_ptr<IUnknown> obj;
    ASSERT_EQ(m->OpenProperty(PR_BODY, Iid::IStream, 0, 0x0B, obj), S_OK);
    const std::string body = "Manual note: Grüße\r\nold body\n";
    std::uint32_t written = 0;
    ASSERT_EQ(
        As<IStream>(obj)->Write(body.data(), static_cast<std::uint32_t>(body.size()), &written),
        S_OK);
    ASSERT_EQ(As<IStream>(obj)->Commit(0), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ASSERT_EQ(HrSetOneProp(*m, PropValue{PR_SUBJECT, std::string("[done] Ölwechsel")}), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u); // replaced, not added
    EXPECT_NE(files[0].filename().string().find(":2,S"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(files[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u); // the mode the delivery gave it
    const std::string stored = ReadFile(files[0]);
    EXPECT_NE(stored.find("X-Custom: kept"), std::string::npos);
    EXPECT_NE(stored.find("X-Quillfence-Replaces:"), std::string::npos);

    Reopen();
    auto again = OnlyMessage();
    EXPECT_EQ(Text(*again, PR_SUBJECT), "[done] Ölwechsel");
    EXPECT_EQ(Body(*again), body);
    std::shared_ptr<IAttach> att;
    ASSERT_EQ(again->OpenAttach(0, Iid::IAttachment, 0x18, att), S_OK);
    EXPECT_EQ(Text(*att, PR_ATTACH_LONG_FILENAME), "cv.pdf");
    // The identifier the message had before still leads to it.
    auto byOldId = OpenMessage(*idBefore->Bin());
    ASSERT_TRUE(byOldId);
    EXPECT_EQ(Text(*byOldId, PR_SUBJECT), "[done] Ölwechsel");
}

// In a batch the changed message waits in tmp/ until the commit; the old file
// goes only after the new one is in place, and read flags are plain renames.
TEST_F(StoreTest, ABatchOfChangesTakesEffectAtItsCommit) {
    Deliver("From: a@example.org\nSubject: First\n\nbody one\n", "300.M1P1.host:2,");
    Deliver("From: b@example.org\nSubject: Second\n\nbody two\n", "301.M1P1.host:2,");
    RowSet rows = Contents(*Inbox(), PropTagArray{PR_ENTRYID});
    ASSERT_EQ(rows.size(), 2u);
    {
        ChangeBatch batch;
        for (const auto& row : rows) {
            auto m = OpenMessage(*row[0].Bin());
            ASSERT_TRUE(m);
            ASSERT_EQ(m->SetReadFlag(0), S_OK);
            ASSERT_EQ(HrSetOneProp(*m, PropValue{PR_SUBJECT, std::string("[done] x")}), S_OK);
            ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        }
        // Before the commit: the old messages (read now), the new ones in tmp/.
        const auto before = MessageFiles(root_);
        ASSERT_EQ(before.size(), 2u);
        for (const auto& f : before) {
            EXPECT_EQ(ReadFile(f).find("[done]"), std::string::npos) << f;
            EXPECT_TRUE(f.filename().string().ends_with(":2,S")) << f;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "tmp"), fs::directory_iterator{}),
                  2);
        EXPECT_EQ(batch.Commit(), 0);
    }
    const auto after = MessageFiles(root_);
    ASSERT_EQ(after.size(), 2u);
    for (const auto& f : after) {
        EXPECT_NE(ReadFile(f).find("Subject: [done] x"), std::string::npos) << f;
        EXPECT_TRUE(f.filename().string().ends_with(":2,S")) << f;
    }
    EXPECT_TRUE(fs::is_empty(root_ / "tmp"));
    // Read anew, each is found with its change.
    Reopen();
    for (const auto& row : Contents(*Inbox(), PropTagArray{PR_SUBJECT})) {
        ASSERT_TRUE(row[0].Text());
        EXPECT_EQ(*row[0].Text(), "[done] x");
    }
}

// What a move to a store of another provider writes there.
TEST_F(StoreTest, RawStreamHandsOverTheMessageAsStored) {
    const std::string inner = "From: b@example.org\r\nSubject: Inner\r\n\r\ninner body\r\n";
    const std::string bytes = "From: a@example.org\r\nSubject: Outer\r\nMIME-Version: 1.0\r\n"
                              "Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
                              "--m\r\nContent-Type: text/plain\r\n\r\nouter body\r\n"
                              "--m\r\nContent-Type: message/rfc822\r\n\r\n" +
                              inner + "--m--\r\n";
    Deliver(bytes, "300.M1P1.host:2,");
    auto m = OnlyMessage();
    auto raw = [](IMessage& msg) {
        std::shared_ptr<IStream> s;
        EXPECT_EQ(msg.OpenRawStream(s), S_OK);
        return s ? ReadStream(*s) : std::string();
    };
    EXPECT_EQ(raw(*m), bytes);

    // A change not yet saved is not in them; once saved it is, as on disk.
    ASSERT_EQ(HrSetOneProp(*m, PropValue{PR_SUBJECT, std::string("Tagged")}), S_OK);
    EXPECT_EQ(raw(*m), bytes);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    const auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(raw(*m), ReadFile(files[0]));
    EXPECT_NE(raw(*m).find("Subject: Tagged\r\n"), std::string::npos);

    // An embedded message comes written out whole.
    std::shared_ptr<IAttach> att;
    ASSERT_EQ(m->OpenAttach(0, Iid::IAttachment, 0x18, att), S_OK);
    std::shared_ptr<IUnknown> obj;
    ASSERT_EQ(att->OpenProperty(PR_ATTACH_DATA_OBJ, Iid::IMessage, 0, 0, obj), S_OK);
    const std::string embedded = raw(*As<IMessage>(obj));
    EXPECT_NE(embedded.find("Subject: Inner\r\n"), std::string::npos);
    EXPECT_NE(embedded.find("inner body"), std::string::npos);
    ASSERT_EQ(att->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, 0, obj), S_OK);
    EXPECT_EQ(embedded, ReadStream(*As<IStream>(obj)));

    // A message that has gone cannot be read.
    Reopen();
    auto gone = OnlyMessage();
    fs::remove(MessageFiles(root_)[0]);
    std::shared_ptr<IStream> s;
    EXPECT_EQ(gone->OpenRawStream(s), MAPI_E_OBJECT_DELETED);
    EXPECT_FALSE(s);
}

// A message handed over as a stream is written as it is read; one whose
// reading fails midway leaves nothing behind, not even in tmp/.
TEST_F(StoreTest, AMessageStoredFromAStreamIsThereWholeOrNotAtAll) {
    struct Source : IStream {
        std::string bytes;
        std::size_t at = 0;
        std::size_t failAt = std::string::npos;
        HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
            *read = 0;
            if (at >= failAt) {
                return MAPI_E_NETWORK_ERROR;
            }
            const std::size_t n = std::min<std::size_t>({count, bytes.size() - at, 100000});
            std::memcpy(buffer, bytes.data() + at, n);
            at += n;
            *read = static_cast<std::uint32_t>(n);
            return S_OK;
        }
        HRESULT Write(const void*, std::uint32_t, std::uint32_t*) override {
            return STG_E_ACCESSDENIED;
        }
        HRESULT Commit(std::uint32_t) override { return S_OK; }
    };
    Source broken;
    broken.bytes = "Subject: Big\n\n" + std::string(1u << 20, 'x');
    broken.failAt = 500000;
    auto inbox = Inbox();
    EXPECT_EQ(inbox->SaveRawStream(broken, true), MAPI_E_NETWORK_ERROR);
    EXPECT_TRUE(MessageFiles(root_).empty());
    EXPECT_TRUE(fs::is_empty(root_ / "tmp"));

    Source good;
    good.bytes = broken.bytes;
    ASSERT_EQ(inbox->SaveRawStream(good, true), S_OK);
    const auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(ReadFile(files[0]) == good.bytes);
    EXPECT_EQ(files[0].string().substr(files[0].string().rfind(',')), ",S");
}

TEST_F(StoreTest, BodyOfAnHtmlOnlyMessageIsAddedBesideTheHtml) {
    Deliver("From: a@example.org\nSubject: h\nMIME-Version: 1.0\n"
            "Content-Type: text/html; charset=utf-8\n\n<p>Hi <b>there</b></p>\n",
            "300.M1P1.host:2,");
    auto m = OnlyMessage();
    const std::string body = "Note\n" + Body(*m);
    ASSERT_EQ(HrSetOneProp(*m, PropValue{PR_BODY, body}), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    Reopen();
    auto again = OnlyMessage();
    EXPECT_EQ(Body(*again), body);
    EXPECT_EQ(Text(*again, PR_BODY_HTML), "<p>Hi <b>there</b></p>\n");
}

TEST_F(StoreTest, ChangedByAnotherProgramNeedsAForcedSave) {
    Deliver(Message("orig", "Mon, 01 Jun 2026 10:00:00 +0000"), "400.M1P1.host:2,");
    auto first = OnlyMessage();
    std::optional<PropValue> id;
    ASSERT_EQ(HrGetOneProp(*first, PR_ENTRYID, id), S_OK);
    // A second opener changes the message first.
    {
        auto second = OpenMessage(*id->Bin());
        ASSERT_EQ(HrSetOneProp(*second, PropValue{PR_SUBJECT, std::string("second")}), S_OK);
        ASSERT_EQ(second->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    ASSERT_EQ(HrSetOneProp(*first, PropValue{PR_SUBJECT, std::string("first")}), S_OK);
    EXPECT_EQ(first->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_CHANGED);
    std::optional<MapiErrorInfo> info;
    ASSERT_EQ(first->GetLastError(MAPI_E_OBJECT_CHANGED, 0, info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->component, "Maildir store");
    EXPECT_EQ(first->SaveChanges(FORCE_SAVE), S_OK);
    EXPECT_EQ(MessageFiles(root_).size(), 1u);
    Reopen();
    EXPECT_EQ(Text(*OnlyMessage(), PR_SUBJECT), "first");
}

TEST_F(StoreTest, MessageRenamedByAnotherProgramIsFoundAgain) {
    Deliver(Message("moved", "Mon, 01 Jun 2026 10:00:00 +0000"), "500.M1P1.host", {}, "new");
    auto rows = Contents(*Inbox(), {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    const EntryId id = *rows[0][0].Bin();
    auto m = OpenMessage(id); // opened, not yet read
    fs::rename(root_ / "new" / "500.M1P1.host", root_ / "cur" / "500.M1P1.host:2,FS");
    EXPECT_EQ(Text(*m, PR_SUBJECT), "moved");
    ASSERT_EQ(m->SetReadFlag(SUPPRESS_RECEIPT), S_OK);
    EXPECT_TRUE(fs::exists(root_ / "cur" / "500.M1P1.host:2,FS"));
    EXPECT_EQ(Text(*OpenMessage(id), PR_SUBJECT), "moved");
}

TEST_F(StoreTest, MoveIsARenameIntoTheOtherFolder) {
    MakeMaildir(root_ / ".Done");
    Deliver(Message("mv", "Mon, 01 Jun 2026 10:00:00 +0000"), "600.M1P1.host:2,S");
    auto inbox = Inbox();
    auto rows = Contents(*inbox, {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    struct stat before {};
    ASSERT_EQ(::stat((root_ / "cur" / "600.M1P1.host:2,S").c_str(), &before), 0);

    std::shared_ptr<IMAPITable> h;
    ASSERT_EQ(inbox->GetHierarchyTable(0, h), S_OK);
    RowSet folders;
    const PropTagArray cols{PR_ENTRYID};
    ASSERT_EQ(HrQueryAllRows(*h, &cols, nullptr, 0, folders), S_OK);
    ASSERT_EQ(folders.size(), 1u);
    auto done = OpenFolder(*folders[0][0].Bin());
    ASSERT_EQ(
        inbox->CopyMessages({*rows[0][0].Bin()}, Iid::IMAPIFolder, done, 0, nullptr, MESSAGE_MOVE),
        S_OK);
    EXPECT_TRUE(MessageFiles(root_).empty());
    auto moved = MessageFiles(root_ / ".Done");
    ASSERT_EQ(moved.size(), 1u);
    struct stat after {};
    ASSERT_EQ(::stat(moved[0].c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino); // renamed, not copied
    EXPECT_EQ(Contents(*done, {PR_SUBJECT}).at(0).at(0).Text()->c_str(), std::string("mv"));
    // The old identifier no longer names a message of the inbox.
    EXPECT_EQ(
        inbox->CopyMessages({*rows[0][0].Bin()}, Iid::IMAPIFolder, done, 0, nullptr, MESSAGE_MOVE),
        MAPI_E_NOT_FOUND);
}

TEST_F(StoreTest, ListingFinishesAnInterruptedReplacement) {
    Deliver(Message("old", "Mon, 01 Jun 2026 10:00:00 +0000"), "700.M1P1.host:2,S");
    // What a process stopped between the rename and the removal leaves behind.
    Deliver("X-Quillfence-Replaces: 700.M1P1.host\n" +
                Message("new", "Mon, 01 Jun 2026 10:00:00 +0000"),
            "701.M1P1Q1_qfr.host:2,S");
    auto rows = Contents(*Inbox(), {PR_SUBJECT});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(*rows[0][0].Text(), "new");
    EXPECT_EQ(MessageFiles(root_).size(), 1u);
}

TEST_F(StoreTest, AReplacesHeaderThatArrivedWithAMessageRemovesNothing) {
    Deliver(Message("victim", "Mon, 01 Jun 2026 09:00:00 +0000"), "600.M1P1.host:2,S");
    // A delivered message claiming to replace the one above, under a name that
    // looks like ours but was given by the delivery.
    const std::string claim = "X-Quillfence-Replaces: 600.M1P1.host\n";
    Deliver(claim + Message("intruder", "Mon, 01 Jun 2026 10:00:00 +0000"), "601.M1P1.host:2,S");
    Deliver(claim + Message("lookalike", "Mon, 01 Jun 2026 11:00:00 +0000"),
            "602.M1P1_qfr.host:2,S");
    ASSERT_EQ(Contents(*Inbox(), {PR_SUBJECT}).size(), 3u);

    // Tagging the intruder writes it anew under our name: its claim must not
    // come along.
    for (const auto& row : Contents(*Inbox(), {PR_SUBJECT, PR_ENTRYID})) {
        if (*row[0].Text() == "intruder") {
            auto m = OpenMessage(*row[1].Bin());
            ASSERT_TRUE(m);
            ASSERT_EQ(HrSetOneProp(*m, PropValue{PR_SUBJECT, std::string("[done] intruder")}),
                      S_OK);
            ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        }
    }
    Reopen();
    std::vector<std::string> subjects;
    for (const auto& row : Contents(*Inbox(), {PR_SUBJECT})) {
        subjects.push_back(*row[0].Text());
    }
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, (std::vector<std::string>{"[done] intruder", "lookalike", "victim"}));
    int tagged = 0;
    for (const auto& file : MessageFiles(root_)) {
        const std::string bytes = ReadFile(file);
        if (bytes.find("[done] intruder") != std::string::npos) {
            ++tagged;
            EXPECT_EQ(bytes.find("600.M1P1.host"), std::string::npos) << bytes;
        }
    }
    EXPECT_EQ(tagged, 1);
}

TEST_F(StoreTest, CraftedIdentifiersAreRefused) {
    Store();
    std::optional<PropValue> sid;
    ASSERT_EQ(HrGetOneProp(Store(), PR_ENTRYID, sid), S_OK);
    StoreUid uid{};
    std::copy(sid->Bin()->begin() + 8, sid->Bin()->begin() + 24, uid.begin());
    fs::create_directories(dir_ / "outside" / "cur");
    WriteFile(dir_ / "outside" / "cur" / "secret", "Subject: secret\n\nx\n");
    const std::vector<EntryId> crafted = {
        MakeFolderEntryId(uid, "../outside"),
        MakeFolderEntryId(uid, "/tmp"),
        MakeFolderEntryId(uid, ".."),
        MakeFolderEntryId(uid, ".a/../../outside"),
        MakeMessageEntryId(uid, "", "../../outside/cur/secret"),
        MakeMessageEntryId(uid, "", "/etc/passwd"),
        MakeMessageEntryId(uid, "..", "secret"),
        MakeMessageEntryId(MakeStoreUid("maildir", (dir_ / "outside").string()), "", "secret"),
        EntryId(24, 0),
        EntryId{'Q', 'F', 'i', 'd', 3, 0, 0, 0},
    };
    for (const EntryId& id : crafted) {
        std::shared_ptr<IUnknown> obj;
        EXPECT_EQ(Store().OpenEntry(id, Iid::None, 0x10, nullptr, obj), MAPI_E_INVALID_ENTRYID);
        EXPECT_FALSE(obj);
    }
    std::shared_ptr<IMsgStore> other;
    EXPECT_EQ(session_->OpenMsgStore(0, EntryId(30, 'x'), Iid::IMsgStore, 0x94, other),
              MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(session_->OpenMsgStore(
                  0, MakeStoreEntryId(MakeStoreUid("maildir", (dir_ / "outside").string())),
                  Iid::IMsgStore, 0x94, other),
              MAPI_E_NOT_FOUND);
}

TEST(MaildirNames, Validation) {
    using namespace maildir;
    for (const char* ok : {"", ".Sub", ".Sub.folder", ".Entw&APw-rfe", ".a b"}) {
        EXPECT_TRUE(IsValidFolderName(ok)) << ok;
    }
    for (const char* bad : {".", "..", "Sub", "./x", ".a/b", ".a..b", ".a.", "/abs"}) {
        EXPECT_FALSE(IsValidFolderName(bad)) << bad;
    }
    for (const char* bad : {"", ".hidden", "a/b", "a:2,S", ".."}) {
        EXPECT_FALSE(IsValidUniqueName(bad)) << bad;
    }
    // Only names of the shape this provider gives its rewritten messages.
    EXPECT_TRUE(IsReplacementName(NewUniqueName(true)));
    EXPECT_FALSE(IsReplacementName(NewUniqueName(false)));
    EXPECT_TRUE(IsReplacementName("701.M1P1Q1_qfr.host"));
    for (const char* other :
         {"evil_qfr.host", "1_qfr.host", "701.M1P1Q1_qfr.", "701.M1P1Q1_qfr.a.b",
          "701.MxP1Q1_qfr.host", "x701.M1P1Q1_qfr.host", "701.M1P1Q1.host"}) {
        EXPECT_FALSE(IsReplacementName(other)) << other;
    }
    EXPECT_EQ(DecodeModifiedUtf7("Entw&APw-rfe"), "Entwürfe");
    EXPECT_EQ(DecodeModifiedUtf7("A&-B"), "A&B");
    EXPECT_EQ(DecodeModifiedUtf7("bad&!!-"), "bad&!!-");
}

} // namespace
} // namespace qf::mapi::testing

namespace qf::mapi::testing {
namespace {

TEST_F(StoreTest, MoveToAnotherStoreCopiesCompletelyThenRemoves) {
    const fs::path other = dir_ / "Other";
    MakeMaildir(other);
    WriteFile(profiles_, "[profile Test]\nstore = maildir | Personal Folders | " + root_.string() +
                             "\nstore = maildir | Other | " + other.string() + "\n");
    const std::string bytes = Message("cross", "Mon, 01 Jun 2026 10:00:00 +0000");
    Deliver(bytes, "800.M1P1.host:2,S");
    auto inbox = Inbox();
    auto rows = Contents(*inbox, {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);

    std::shared_ptr<IMAPITable> t;
    ASSERT_EQ(session_->GetMsgStoresTable(0, t), S_OK);
    RowSet stores;
    const PropTagArray cols{PR_DISPLAY_NAME, PR_ENTRYID};
    ASSERT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, stores), S_OK);
    ASSERT_EQ(stores.size(), 2u);
    std::shared_ptr<IMsgStore> second;
    ASSERT_EQ(session_->OpenMsgStore(0, *stores[1][1].Bin(), Iid::IMsgStore, 0x94, second), S_OK);
    std::shared_ptr<IUnknown> obj;
    ASSERT_EQ(second->OpenEntry({}, Iid::IMAPIFolder, 0x18, nullptr, obj), S_OK);
    ASSERT_EQ(inbox->CopyMessages({*rows[0][0].Bin()}, Iid::IMAPIFolder, As<IMAPIFolder>(obj), 0,
                                  nullptr, MESSAGE_MOVE),
              S_OK);
    EXPECT_TRUE(MessageFiles(root_).empty());
    auto moved = MessageFiles(other);
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].filename(), "800.M1P1.host:2,S");
    EXPECT_EQ(ReadFile(moved[0]), bytes);
    EXPECT_TRUE(fs::is_empty(other / "tmp"));
}

// A note of a move to a store of another provider names the destination
// folder and the copy's token; the listing asks that folder through the
// profile.  Another Maildir store stands in for the destination here.
TEST_F(StoreTest, ListingSettlesMoveNotesByAskingTheDestinationForTheToken) {
    const fs::path other = dir_ / "Other";
    MakeMaildir(other);
    WriteFile(profiles_, "[profile Test]\nstore = maildir | Personal Folders | " + root_.string() +
                             "\nstore = maildir | Other | " + other.string() + "\n");
    std::shared_ptr<IMAPITable> t;
    RowSet stores;
    const PropTagArray cols{PR_ENTRYID};
    Store();
    ASSERT_EQ(session_->GetMsgStoresTable(0, t), S_OK);
    ASSERT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, stores), S_OK);
    ASSERT_EQ(stores.size(), 2u);
    const StoreUid otherUid = ParseEntryId(*stores[1][0].Bin())->store;
    const EntryId otherInbox = MakeFolderEntryId(otherUid, "");
    const auto note = [&](const std::string& unique, const EntryId& folder,
                          const std::string& token) {
        fs::create_directories(root_ / "tmp");
        ASSERT_EQ(maildir::WriteMoveNote(maildir::MoveNotePath(root_.string(), unique),
                                         maildir::MoveNote{"", "", folder, token}),
                  0);
    };
    const std::string date = "Mon, 01 Jun 2026 10:00:00 +0000";
    // Copied: the original goes.  A lookalike token proves nothing.  A store
    // outside the profile cannot hold the copy.  An unreadable note is left.
    Deliver(Message("copied", date), "801.M1P1.host:2,");
    Deliver(MarkAsMovedCopy(Message("copied", date), "tok1"), "801.M1P1.host:2,", other);
    note("801.M1P1.host", otherInbox, "tok1");
    Deliver(Message("lookalike", date), "802.M1P1.host:2,");
    Deliver(MarkAsMovedCopy(Message("lookalike", date), "tok20"), "900.M1P1.host:2,", other);
    note("802.M1P1.host", otherInbox, "tok2");
    Deliver(Message("elsewhere", date), "803.M1P1.host:2,");
    note("803.M1P1.host", MakeFolderEntryId(MakeStoreUid("maildir", "/gone"), ""), "tok1");
    Deliver(Message("garbled", date), "804.M1P1.host:2,");
    WriteFile(root_ / "tmp" / "804.M1P1.host.qfmove", "folder 0g\ntok1\n");

    EXPECT_EQ(Contents(*Inbox(), {PR_ENTRYID}).size(), 3u);
    std::vector<std::string> left;
    for (const auto& f : MessageFiles(root_)) {
        left.push_back(f.filename().string());
    }
    EXPECT_EQ(left, (std::vector<std::string>{"802.M1P1.host:2,", "803.M1P1.host:2,",
                                              "804.M1P1.host:2,"}));
    EXPECT_EQ(MessageFiles(other).size(), 2u) << "the destination is never touched";
    std::vector<std::string> notes;
    for (const auto& e : fs::directory_iterator(root_ / "tmp")) {
        notes.push_back(e.path().filename().string());
    }
    EXPECT_EQ(notes, std::vector<std::string>{"804.M1P1.host.qfmove"});
}

// While the destination's server cannot be reached, the original is listed (it
// may be taken again, never hidden) and its note waits, however old it gets.
TEST_F(StoreTest, AMoveNoteWaitsWhileItsDestinationIsOutOfReach) {
    WriteFile(profiles_, "[profile Test]\nstore = maildir | Personal Folders | " + root_.string() +
                             "\nstore = imap | Away | 127.0.0.1\nstore port = 1\n"
                             "store tls = none\nstore user = u\nstore password = text p\n");
    fs::permissions(profiles_, fs::perms::owner_read | fs::perms::owner_write);
    std::shared_ptr<IMAPITable> t;
    RowSet stores;
    const PropTagArray cols{PR_ENTRYID};
    Store();
    ASSERT_EQ(session_->GetMsgStoresTable(0, t), S_OK);
    ASSERT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, stores), S_OK);
    ASSERT_EQ(stores.size(), 2u);
    Deliver(Message("waiting", "Mon, 01 Jun 2026 10:00:00 +0000"), "805.M1P1.host:2,");
    fs::create_directories(root_ / "tmp");
    const std::string note = maildir::MoveNotePath(root_.string(), "805.M1P1.host");
    ASSERT_EQ(maildir::WriteMoveNote(
                  note,
                  maildir::MoveNote{
                      "", "", MakeFolderEntryId(ParseEntryId(*stores[1][0].Bin())->store, "INBOX"),
                      "tok"}),
              0);
    fs::last_write_time(note, fs::file_time_type::clock::now() - std::chrono::hours(40));
    EXPECT_EQ(Contents(*Inbox(), {PR_ENTRYID}).size(), 1u);
    EXPECT_TRUE(fs::exists(note));
}

TEST(MoveToken, TheCopyCarriesExactlyOneTokenAndOnlyAWholeMatchCounts) {
    const std::string moved = MarkAsMovedCopy("Subject: s\nX-Quillfence-Move: old\n\nbody\n", "t1");
    EXPECT_EQ(moved, "Subject: s\nX-Quillfence-Move: t1\n\nbody\n");
    const auto headers = mime::SplitHeaders(moved).headers;
    EXPECT_TRUE(CarriesMoveToken(headers, "t1"));
    EXPECT_FALSE(CarriesMoveToken(headers, "t"));
    EXPECT_FALSE(CarriesMoveToken(headers, ""));
    EXPECT_FALSE(
        CarriesMoveToken(mime::SplitHeaders("X-Quillfence-Move: t1 t2\n\nb").headers, "t1"));
    EXPECT_NE(NewMoveToken(), NewMoveToken());
}

TEST(MarkAsReplacement, ReplacesTheSubjectKeepsTheRestAndListsEveryReplacedName) {
    using maildir::MarkAsReplacement;
    const std::string original = "From: a@example.org\r\nSubject: first line\r\n"
                                 " folded part\r\nX-Quillfence-Replaces: u1 u0\r\n"
                                 "Date: Mon, 01 Jun 2026 10:00:00 +0000\r\n\r\nbody\r\n";
    const std::string ours = "2.M1P1Q2_qfr.host";
    const std::string out = MarkAsReplacement(original, std::string("Grüße"), ours);
    EXPECT_EQ(out, "From: a@example.org\r\nSubject: =?UTF-8?b?R3LDvMOfZQ==?=\r\n"
                   "Date: Mon, 01 Jun 2026 10:00:00 +0000\r\n"
                   "X-Quillfence-Replaces: " +
                       ours + " u1 u0\r\n\r\nbody\r\n");
    // A message that arrived with the header lists only itself.
    EXPECT_EQ(MarkAsReplacement(original, std::nullopt, "2.M1P1Q2.host"),
              "From: a@example.org\r\nSubject: first line\r\n folded part\r\n"
              "Date: Mon, 01 Jun 2026 10:00:00 +0000\r\n"
              "X-Quillfence-Replaces: 2.M1P1Q2.host\r\n\r\nbody\r\n");
    EXPECT_EQ(MarkAsReplacement("no headers here\n", std::string("S"), "u"),
              "Subject: S\nX-Quillfence-Replaces: u\n\nno headers here\n");
    EXPECT_EQ(MarkAsReplacement("Subject: keep\n\nb", std::nullopt, "u"),
              "Subject: keep\nX-Quillfence-Replaces: u\n\nb");
    // A subject cannot add header lines.
    EXPECT_EQ(MarkAsReplacement("Subject: x\n\nb", std::string("a\nBcc: evil@example.org"), "u"),
              "Subject: a Bcc: evil@example.org\nX-Quillfence-Replaces: u\n\nb");
}

} // namespace
} // namespace qf::mapi::testing

namespace qf::mapi::testing {
namespace {

TEST_F(StoreTest, RootReachedThroughASymbolicLinkWorks) {
    fs::create_directory_symlink(root_, dir_ / "link");
    WriteFile(profiles_,
              "[profile Test]\nstore = maildir | P | " + (dir_ / "link").string() + "\n");
    Deliver(Message("via link", "Mon, 01 Jun 2026 10:00:00 +0000"), "900.M1P1.host:2,");
    auto rows = Contents(*Inbox(), {PR_SUBJECT});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(*rows[0][0].Text(), "via link");
}

TEST_F(StoreTest, TheStoreTellsWhyAFolderOrMessageCallFailed) {
    Deliver(Message("gone", "Mon, 01 Jun 2026 10:00:00 +0000"), "950.M1P1.host:2,");
    auto inbox = Inbox();
    auto rows = Contents(*inbox, {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    auto m = OpenMessage(*rows[0][0].Bin());
    fs::remove(root_ / "cur" / "950.M1P1.host:2,");
    const HRESULT hr =
        inbox->CopyMessages({*rows[0][0].Bin()}, Iid::IMAPIFolder, inbox, 0, nullptr, MESSAGE_MOVE);
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
    std::optional<MapiErrorInfo> info;
    ASSERT_EQ(Store().GetLastError(hr, 0, info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_NE(info->error.find("950.M1P1.host is no longer in"), std::string::npos) << info->error;
    EXPECT_EQ(info->component, "Maildir store");

    EXPECT_EQ(m->SetReadFlag(SUPPRESS_RECEIPT), MAPI_E_OBJECT_DELETED);
    ASSERT_EQ(Store().GetLastError(MAPI_E_OBJECT_DELETED, 0, info), S_OK);
    ASSERT_TRUE(info);
    // A code other than the last failure's gets no record.
    ASSERT_EQ(Store().GetLastError(MAPI_E_CALL_FAILED, 0, info), S_OK);
    EXPECT_FALSE(info);
}

} // namespace
} // namespace qf::mapi::testing
