// Real Maildir trees for the tests: a temporary folder with a profiles file
// naming the stores, and the platform logged on to them.
#pragma once

#include "platform/messaging/mapi.h"
#include "platform/messaging/profiles.h"

#include "common/error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qf::mapi::testing {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Parses a profiles file "p.ini" that must be refused; the message names the file
// and holds `fault`.
inline void ExpectProfilesRefused(const std::string& text, const std::string& fault) {
    try {
        ParseProfiles(text, "p.ini");
        ADD_FAILURE() << "accepted: " << text;
    } catch (const Error& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("Profiles file p.ini", 0), 0u) << message;
        EXPECT_NE(message.find(fault), std::string::npos) << message;
    }
}

inline void MakeMaildir(const fs::path& path) {
    for (const char* sub : {"cur", "new", "tmp"}) {
        fs::create_directories(path / sub);
    }
}

// Every message file of a Maildir folder (cur/ and new/), sorted.
inline std::vector<fs::path> MessageFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const char* sub : {"cur", "new"}) {
        if (!fs::exists(folder / sub)) {
            continue;
        }
        for (const auto& e : fs::directory_iterator(folder / sub)) {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class MaildirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qf-maildir-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        root_ = dir_ / "Mail";
        MakeMaildir(root_);
        profiles_ = dir_ / "profiles.ini";
        WriteFile(profiles_,
                  "[profile Test]\nstore = maildir | Personal Folders | " + root_.string() + "\n");
        ::setenv("QUILLFENCE_PROFILES", profiles_.c_str(), 1);
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    }

    void TearDown() override {
        store_.reset();
        session_.reset();
        MAPIUninitialize();
        ::unsetenv("QUILLFENCE_PROFILES");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Puts a message into a folder of the tree under the given file name.
    fs::path Deliver(const std::string& bytes, const std::string& name, const fs::path& folder = {},
                     const char* sub = "cur") {
        const fs::path f = folder.empty() ? root_ : folder;
        const fs::path p = f / sub / name;
        WriteFile(p, bytes);
        return p;
    }

    // Logs on with the default profile and opens its default store.
    IMsgStore& Store() {
        if (!store_) {
            EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x62, session_), S_OK);
            std::shared_ptr<IMAPITable> table;
            EXPECT_EQ(session_->GetMsgStoresTable(0, table), S_OK);
            RowSet rows;
            const PropTagArray cols{PR_ENTRYID};
            EXPECT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
            EXPECT_FALSE(rows.empty());
            EXPECT_EQ(session_->OpenMsgStore(0, *rows[0][0].Bin(), Iid::IMsgStore, 0x94, store_),
                      S_OK);
        }
        return *store_;
    }

    // Drops the session and store, so the next Store() reads everything anew.
    void Reopen() {
        store_.reset();
        session_.reset();
    }

    std::shared_ptr<IMAPIFolder> OpenFolder(const EntryId& id) {
        std::shared_ptr<IUnknown> obj;
        EXPECT_EQ(Store().OpenEntry(id, Iid::IMAPIFolder, 0x18, nullptr, obj), S_OK);
        return As<IMAPIFolder>(obj);
    }

    std::shared_ptr<IMAPIFolder> Inbox() {
        EntryId id;
        EXPECT_EQ(Store().GetReceiveFolder("IPM", 0, id, nullptr), S_OK);
        return OpenFolder(id);
    }

    // The rows of a folder's contents table with the given columns, in file order.
    RowSet Contents(IMAPIFolder& folder, const PropTagArray& cols) {
        std::shared_ptr<IMAPITable> table;
        EXPECT_EQ(folder.GetContentsTable(0, table), S_OK);
        RowSet rows;
        EXPECT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
        return rows;
    }

    std::shared_ptr<IMessage> OpenMessage(const EntryId& id) {
        std::shared_ptr<IUnknown> obj;
        EXPECT_EQ(Store().OpenEntry(id, Iid::IMessage, 0x10, nullptr, obj), S_OK);
        return As<IMessage>(obj);
    }

    // The one message of the inbox.
    std::shared_ptr<IMessage> OnlyMessage() {
        auto rows = Contents(*Inbox(), {PR_ENTRYID});
        EXPECT_EQ(rows.size(), 1u);
        return rows.empty() ? nullptr : OpenMessage(*rows[0][0].Bin());
    }

    static std::string Text(IMAPIProp& obj, PropTag tag) {
        std::optional<PropValue> v;
        if (HrGetOneProp(obj, tag, v) != S_OK) {
            return "<missing>";
        }
        return v->Text() ? *v->Text() : "<not text>";
    }

    static std::string ReadStream(IStream& s) {
        std::string out;
        char buf[4096];
        for (;;) {
            std::uint32_t n = 0;
            EXPECT_EQ(s.Read(buf, 4095, &n), S_OK);
            if (n == 0) {
                break;
            }
            out.append(buf, n);
        }
        return out;
    }

    static std::string Body(IMessage& m) {
        std::shared_ptr<IUnknown> obj;
        const HRESULT hr = m.OpenProperty(PR_BODY, Iid::IStream, 0, MAPI_DEFERRED_ERRORS, obj);
        if (hr == MAPI_E_NOT_FOUND) {
            return "";
        }
        EXPECT_EQ(hr, S_OK);
        return ReadStream(*As<IStream>(obj));
    }

    fs::path dir_;
    fs::path root_;
    fs::path profiles_;
    std::shared_ptr<IMAPISession> session_;
    std::shared_ptr<IMsgStore> store_;
};

} // namespace qf::mapi::testing
