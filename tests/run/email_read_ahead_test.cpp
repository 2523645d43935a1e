// The read-ahead of a run's next emails: in order, on one other thread, within
// its bounds, never on a message the run is using, and stopped with the run.
#include "mail/email.h"
#include "run/email_read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace qf {
namespace {

using namespace mapi;

// A message that records its read-ahead, slowly enough that the run's thread
// would meet a read still under way if it did not wait for it.
class ProbeMessage : public IMessage {
public:
    explicit ProbeMessage(std::atomic<int>& sequence) : sequence_(sequence) {}

    void ReadAhead() override {
        reading = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        thread = std::this_thread::get_id();
        order = sequence_++;
        ++reads;
        reading = false;
    }
    // What the run would do with the message once it has taken it.
    bool UsedWhileReading() const { return reading; }

    std::atomic<bool> reading{false};
    std::atomic<int> reads{0};
    std::thread::id thread;
    int order = -1;

    HRESULT GetLastError(HRESULT, std::uint32_t, std::optional<MapiErrorInfo>&) override {
        return S_OK;
    }
    HRESULT GetProps(const PropTagArray*, std::uint32_t, std::vector<PropValue>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }
    HRESULT GetAttachmentTable(std::uint32_t, std::shared_ptr<IMAPITable>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT OpenAttach(std::uint32_t, Iid, std::uint32_t, std::shared_ptr<IAttach>&) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetReadFlag(std::uint32_t) override { return S_OK; }
    HRESULT OpenRawStream(std::shared_ptr<IStream>&) override { return MAPI_E_NO_SUPPORT; }

private:
    std::atomic<int>& sequence_;
};

class EmailReadAheadTest : public ::testing::Test {
protected:
    std::atomic<int> sequence{0};
    std::vector<std::unique_ptr<EmailMessage>> emails;
    std::vector<std::shared_ptr<ProbeMessage>> probes;

    void MakeEmails(int count, std::int32_t size = 1000) {
        for (int i = 0; i < count; ++i) {
            auto email = std::make_unique<EmailMessage>();
            email->subject = "Email " + std::to_string(i);
            email->messageSize = size;
            probes.push_back(std::make_shared<ProbeMessage>(sequence));
            email->mapiMessage = probes.back();
            emails.push_back(std::move(email));
        }
    }
};

TEST_F(EmailReadAheadTest, EmailsAreReadInOrderOnAnotherThreadBeforeTheRunTakesThem) {
    MakeEmails(12);
    EmailReadAhead::Limits limits;
    limits.emails = 3;
    {
        EmailReadAhead readAhead(emails, limits);
        for (std::size_t i = 0; i < emails.size(); ++i) {
            readAhead.Take(i);
            SCOPED_TRACE(i);
            // Read once, finished, and never by the run's own thread.
            EXPECT_EQ(probes[i]->reads, 1);
            EXPECT_FALSE(probes[i]->UsedWhileReading());
            EXPECT_NE(probes[i]->thread, std::this_thread::get_id());
            EXPECT_LE(readAhead.HandedOut(), i + limits.emails);
            emails[i].reset(); // the run lets go of an email once it is done
        }
    }
    for (std::size_t i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(probes[i]->order, static_cast<int>(i));
        EXPECT_EQ(probes[i]->reads, 1);
    }
}

TEST_F(EmailReadAheadTest, BigEmailsAreReadAheadFewAtATimeButOneAlways) {
    MakeEmails(6, 3 << 20);
    EmailReadAhead::Limits limits;
    limits.emails = 32;
    limits.bytes = 8u << 20;
    EmailReadAhead readAhead(emails, limits);
    readAhead.Take(0);
    EXPECT_EQ(readAhead.HandedOut(), 3u) << "3 MB each: the third passes 8 MB";
    readAhead.Take(1);
    EXPECT_EQ(readAhead.HandedOut(), 4u);

    std::vector<std::unique_ptr<EmailMessage>> huge;
    huge.push_back(std::make_unique<EmailMessage>());
    huge.back()->messageSize = 64 << 20;
    huge.back()->mapiMessage = std::make_shared<ProbeMessage>(sequence);
    EmailReadAhead alone(huge, limits);
    alone.Take(0);
    EXPECT_EQ(alone.HandedOut(), 1u);
}

TEST_F(EmailReadAheadTest, SkippedEmailsAreNotReadAndTheHookHearsOfEachReadOneBeforeItsTurn) {
    MakeEmails(8);
    std::vector<std::string> told;
    std::size_t taking = 0;
    EmailReadAhead::Limits limits;
    limits.emails = 4;
    EmailReadAhead readAhead(
        emails, limits, [](const EmailMessage& e) { return e.subject != "Email 3"; },
        [&](EmailMessage& e) {
            // Told on the run's thread, about an email read and not yet taken.
            EXPECT_GE(std::stoul(e.subject.substr(6)), taking);
            told.push_back(e.subject);
        });
    for (taking = 0; taking < emails.size(); ++taking) {
        readAhead.Take(taking);
        const bool toldOf =
            std::find(told.begin(), told.end(), "Email " + std::to_string(taking)) != told.end();
        EXPECT_EQ(toldOf, taking != 3) << "told of before (or as) the run takes it";
    }
    EXPECT_EQ(probes[3]->reads, 0);
    EXPECT_EQ(told, (std::vector<std::string>{"Email 0", "Email 1", "Email 2", "Email 4", "Email 5",
                                              "Email 6", "Email 7"}));
}

TEST_F(EmailReadAheadTest, AStoppedRunLeavesNothingReadingAndNoLimitReadsNothing) {
    MakeEmails(40);
    EmailReadAhead::Limits limits;
    limits.emails = 16;
    {
        EmailReadAhead readAhead(emails, limits);
        readAhead.Take(0);
        readAhead.Take(1);
    } // a cancel after the second email
    int reads = 0;
    for (const auto& p : probes) {
        EXPECT_FALSE(p->reading);
        reads += p->reads;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int later = 0;
    for (const auto& p : probes) {
        later += p->reads;
    }
    EXPECT_EQ(later, reads) << "nothing is read after the read-ahead is gone";
    EXPECT_LE(reads, 2 + 16);

    limits.emails = 0;
    EmailReadAhead none(emails, limits);
    none.Take(20);
    EXPECT_EQ(none.HandedOut(), 0u);
    EXPECT_EQ(probes[20]->reads, 0);
}

} // namespace
} // namespace qf
