// Lists and reads the properties of generated Maildir messages through the
// messaging platform and prints messages per second, beside a floor that only
// reads each file's bytes.
//
//   bench_mail_maildir [count]     (default 10000)
#include "platform/messaging/mapi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace qf::mapi;

namespace {

std::string Generate(int i) {
    const std::string n = std::to_string(i);
    std::string head = "Return-Path: <applicant" + n +
                       "@example.org>\n"
                       "Received: from mx.example.org by mail.example.com; Mon, 01 Jun 2026 "
                       "10:00:00 +0000\n"
                       "From: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <applicant" +
                       n +
                       "@example.org>\n"
                       "To: Jobs <jobs@example.com>, hr@example.com\n"
                       "Subject: =?UTF-8?B?QmV3ZXJidW5nIGbDvHIgZGllIFN0ZWxsZQ==?= " +
                       n + "\nDate: Mon, 01 Jun 2026 09:" + std::to_string(10 + i % 50) +
                       ":00 +0000\nMessage-ID: <" + n + "@example.org>\nMIME-Version: 1.0\n";
    const std::string text = "Sehr geehrte Damen und Herren,\n\nanbei meine Unterlagen.\n\n"
                             "Mit freundlichen Gruessen\nJuergen Mueller\n";
    switch (i % 10) {
    case 0:
    case 1:
    case 2: {
        std::string pdf(6000, 'A');
        for (std::size_t k = 76; k < pdf.size(); k += 77) {
            pdf[k] = '\n';
        }
        return head + "Content-Type: multipart/mixed; boundary=\"b" + n + "\"\n\n--b" + n +
               "\nContent-Type: text/plain; charset=utf-8\n\n" + text + "--b" + n +
               "\nContent-Type: application/pdf; name=\"Lebenslauf.pdf\"\n"
               "Content-Disposition: attachment; filename=\"Lebenslauf.pdf\"\n"
               "Content-Transfer-Encoding: base64\n\n" +
               pdf + "\n--b" + n + "--\n";
    }
    case 3:
        return head + "Content-Type: multipart/alternative; boundary=\"a" + n + "\"\n\n--a" + n +
               "\nContent-Type: text/plain; charset=utf-8\n\n" + text + "--a" + n +
               "\nContent-Type: text/html; charset=utf-8\n\n<p>" + text + "</p>\n--a" + n + "--\n";
    default:
        return head + "Content-Type: text/plain; charset=utf-8\n\n" + text;
    }
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    char tmpl[] = "/tmp/qf-bench-maildir-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = tmpl;
    const fs::path root = dir / "Maildir";
    for (const char* sub : {"cur", "new", "tmp"}) {
        fs::create_directories(root / sub);
    }
    for (int i = 0; i < count; ++i) {
        std::ofstream(root / "cur" / (std::to_string(1700000000 + i) + ".M1P1.bench:2,S"),
                      std::ios::binary)
            << Generate(i);
    }
    std::ofstream(dir / "profiles.ini")
        << "[profile Bench]\nstore = maildir | Bench | " << root.string() << "\n";
    ::setenv("QUILLFENCE_PROFILES", (dir / "profiles.ini").c_str(), 1);

    // Floor: read every file's bytes.
    auto t0 = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (const auto& e : fs::directory_iterator(root / "cur")) {
        std::ifstream in(e.path(), std::ios::binary);
        std::string s((std::istreambuf_iterator<char>(in)), {});
        bytes += s.size();
    }
    const double floorSec = Seconds(t0);

    MAPIInitialize(nullptr);
    std::shared_ptr<IMAPISession> session;
    if (MAPILogonEx(0, nullptr, nullptr, 0x62, session) != S_OK) {
        std::fprintf(stderr, "logon failed\n");
        return 1;
    }
    std::shared_ptr<IMAPITable> stores;
    RowSet rows;
    const PropTagArray storeCols{PR_ENTRYID};
    session->GetMsgStoresTable(0, stores);
    HrQueryAllRows(*stores, &storeCols, nullptr, 0, rows);
    std::shared_ptr<IMsgStore> store;
    session->OpenMsgStore(0, *rows.at(0).at(0).Bin(), Iid::IMsgStore, 0x94, store);
    EntryId inboxId;
    store->GetReceiveFolder("IPM", 0, inboxId, nullptr);
    std::shared_ptr<IUnknown> obj;
    store->OpenEntry(inboxId, Iid::IMAPIFolder, 0x18, nullptr, obj);
    auto inbox = As<IMAPIFolder>(obj);

    auto list = [&](const PropTagArray& cols, std::vector<EntryId>* ids) {
        std::shared_ptr<IMAPITable> table;
        inbox->GetContentsTable(0, table);
        table->SetColumns(cols, 0);
        table->SortTable({{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_ASCEND}}, 0);
        std::size_t n = 0;
        for (;;) {
            RowSet batch;
            table->QueryRows(25, 0, batch);
            if (batch.empty()) {
                break;
            }
            n += batch.size();
            if (ids != nullptr) {
                for (auto& r : batch) {
                    ids->push_back(*r.back().Bin());
                }
            }
        }
        return n;
    };
    // The column set the mail layer lists with: headers and structure.
    const PropTagArray messageColumns{PR_HASATTACH,     PR_STORE_SUPPORT_MASK,
                                      PR_DISPLAY_TO,    PR_SENDER_EMAIL_ADDRESS,
                                      PR_MESSAGE_FLAGS, PR_SUBJECT,
                                      PR_MESSAGE_SIZE,  PR_MESSAGE_DELIVERY_TIME,
                                      PR_ENTRYID};
    const PropTagArray headerColumns{PR_DISPLAY_TO,   PR_SENDER_EMAIL_ADDRESS,  PR_SUBJECT,
                                     PR_MESSAGE_SIZE, PR_MESSAGE_DELIVERY_TIME, PR_ENTRYID};

    t0 = std::chrono::steady_clock::now();
    const std::size_t headerRows = list(headerColumns, nullptr);
    const double headerSec = Seconds(t0);

    std::vector<EntryId> ids;
    t0 = std::chrono::steady_clock::now();
    const std::size_t structRows = list(messageColumns, &ids);
    const double structSec = Seconds(t0);

    // Reading: open each message, its body and its attachment table.
    t0 = std::chrono::steady_clock::now();
    std::size_t bodyBytes = 0;
    for (const EntryId& id : ids) {
        store->OpenEntry(id, Iid::IMessage, 0x10, nullptr, obj);
        auto m = As<IMessage>(obj);
        std::shared_ptr<IUnknown> s;
        if (m->OpenProperty(PR_BODY, Iid::IStream, 0, MAPI_DEFERRED_ERRORS, s) == S_OK) {
            char buf[4096];
            std::uint32_t got = 0;
            while (As<IStream>(s)->Read(buf, 4095, &got) == S_OK && got > 0) {
                bodyBytes += got;
            }
        }
        std::shared_ptr<IMAPITable> att;
        m->GetAttachmentTable(0, att);
    }
    const double readSec = Seconds(t0);

    std::printf("messages: %d (%.1f MB)\n", count, static_cast<double>(bytes) / 1e6);
    std::printf("floor, read bytes only:          %9.0f messages/s\n", count / floorSec);
    std::printf("list, headers only:              %9.0f messages/s (%zu rows)\n",
                static_cast<double>(headerRows) / headerSec, headerRows);
    std::printf("list, headers and structure:     %9.0f messages/s (%zu rows)  target >= 10000\n",
                static_cast<double>(structRows) / structSec, structRows);
    std::printf("open and read body+attachments:  %9.0f messages/s (%zu body bytes)\n",
                static_cast<double>(ids.size()) / readSec, bodyBytes);
    std::printf("ratio to floor, headers+structure: %.2f\n", floorSec / structSec);

    store.reset();
    session.reset();
    MAPIUninitialize();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
