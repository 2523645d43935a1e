// A word processor that turns documents into text by rules instead of
// starting LibreOffice, so tests can provoke each failure of a conversion.
#pragma once

#include "common/fileio.h"
#include "platform/wordproc/word_processor.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qf::testing {

// Turns documents into text by what the file holds: "PASSWORD..." does not
// open (a password), "CRASH..." takes the instance down, "MERGE..." fails to
// clear mail merge, "PROTECTED..." gives no text, "CLOSE-..." fails on closing
// (see Close), "BLOCK..." holds its instance (see Family); anything else
// comes back as "Converted: " and the content.
class FakeWordProcessor : public wordproc::WordProcessor {
public:
    // What the instances made from one fake share; each instance is used by
    // one thread at a time, the family by several.
    struct Family {
        std::mutex mutex;
        std::condition_variable changed;
        int made = 0, quits = 0;
        // Texts taken by all instances.
        int texts = 0;
        // Set: a "BLOCK..." document holds its instance until another
        // instance has taken a text (blockedInVain counts those that waited
        // 10 s in vain).
        bool blockUntilAnotherText = false;
        int blockedInVain = 0;
        std::vector<std::thread::id> threads; // that opened a document
    };
    // How many instances may serve (InstanceLimit), and the family shared
    // with those NewInstance makes.
    int instanceLimit = 1;
    std::shared_ptr<Family> family = std::make_shared<Family>();
    bool further = false; // made by NewInstance

    std::vector<std::string> opened;
    int closes = 0, quits = 0, connects = 0;
    bool startsInstance = true;
    bool available = true;

    bool Connect() override {
        if (!available) {
            throw wordproc::WordProcessorError(wordproc::Failure::NotAvailable, "not installed");
        }
        ++connects;
        return startsInstance;
    }
    bool Started() const override { return startsInstance; }
    void Hide() override {}
    wordproc::DocumentId Open(const std::string& path, const std::string&,
                              const std::string&) override {
        opened.push_back(path);
        {
            std::lock_guard lock(family->mutex);
            family->threads.push_back(std::this_thread::get_id());
        }
        const std::string content = ReadFileBytes(path);
        if (content.starts_with("PASSWORD")) {
            throw wordproc::WordProcessorError(wordproc::Failure::CannotOpen, "needs a password");
        }
        if (content.starts_with("CRASH")) {
            throw wordproc::WordProcessorError(wordproc::Failure::OfficeDied,
                                               "The word processor stopped working");
        }
        docs_[++next_] = content;
        return wordproc::DocumentId{next_};
    }
    wordproc::StepOutcome ClearMailMerge(wordproc::DocumentId doc) override {
        if (docs_.at(doc.value).starts_with("MERGE")) {
            throw wordproc::WordProcessorError(wordproc::Failure::StepFailed, "merge");
        }
        return wordproc::StepOutcome::NotNeeded;
    }
    wordproc::StepOutcome Unprotect(wordproc::DocumentId, const std::string&) override {
        return wordproc::StepOutcome::NotNeeded;
    }
    // The macros run, by name; "Missing" does not exist, "Hang" runs past the
    // deadline (the instance is restarted and the document is gone).
    std::vector<std::string> macros;
    void RunMacro(wordproc::DocumentId doc, const std::string& name) override {
        macros.push_back(name);
        if (name == "Missing") {
            throw wordproc::WordProcessorError(wordproc::Failure::MacroMissing, "no macro");
        }
        if (name == "Hang" && docs_.at(doc.value).starts_with("LOOP")) {
            docs_.erase(doc.value);
            throw wordproc::WordProcessorError(wordproc::Failure::Timeout,
                                               "The document took longer than 60 seconds");
        }
    }
    std::string WholeText(wordproc::DocumentId doc) override {
        const std::string& content = docs_.at(doc.value);
        if (content.starts_with("PROTECTED")) {
            throw wordproc::WordProcessorError(wordproc::Failure::NoText, "no text");
        }
        if (content.starts_with("NOISE")) {
            throw wordproc::WordProcessorError(wordproc::Failure::Unreadable,
                                               "The text is mostly unprintable");
        }
        std::unique_lock lock(family->mutex);
        if (content.starts_with("BLOCK") && family->blockUntilAnotherText &&
            !family->changed.wait_for(lock, std::chrono::seconds(10),
                                      [this] { return family->texts > texts_; })) {
            ++family->blockedInVain;
        }
        ++family->texts;
        ++texts_;
        family->changed.notify_all();
        return "Converted: " + content;
    }
    // "CLOSE-FAILS..." cannot be closed; "CLOSE-DIES..." takes the instance
    // down while closing, "CLOSE-HANGS..." runs past the deadline there.
    void Close(wordproc::DocumentId doc) override {
        ++closes;
        const std::string content = docs_.at(doc.value);
        docs_.erase(doc.value);
        if (content.starts_with("CLOSE-FAILS")) {
            throw wordproc::WordProcessorError(wordproc::Failure::CloseFailed, "close failed");
        }
        if (content.starts_with("CLOSE-DIES")) {
            throw wordproc::WordProcessorError(wordproc::Failure::OfficeDied,
                                               "The word processor stopped working");
        }
        if (content.starts_with("CLOSE-HANGS")) {
            throw wordproc::WordProcessorError(wordproc::Failure::Timeout,
                                               "The document took longer than 60 seconds");
        }
    }
    void Quit() override {
        ++quits;
        if (further) {
            std::lock_guard lock(family->mutex);
            ++family->quits;
        }
    }
    int InstanceLimit() const override { return instanceLimit; }
    std::unique_ptr<wordproc::WordProcessor> NewInstance() override {
        auto another = std::make_unique<FakeWordProcessor>();
        another->family = family;
        another->further = true;
        another->available = available;
        std::lock_guard lock(family->mutex);
        ++family->made;
        return another;
    }

private:
    std::map<std::uint64_t, std::string> docs_;
    std::uint64_t next_ = 0;
    int texts_ = 0; // taken by this instance
};

} // namespace qf::testing
