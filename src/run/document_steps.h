// The steps that turn one document into text through one word-processor
// instance: open it, clear mail merge, lift protection, run the user's macro,
// take the text, close it.  What the user must hear of on the way goes to a
// ConversionNotes as it happens; a conversion done on another thread keeps
// its notes and replays them later, in the same order, on the run's thread.
#pragma once

#include "platform/wordproc/word_processor.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qf {

// Where a conversion's notes go.
class ConversionNotes {
public:
    virtual ~ConversionNotes() = default;
    // A warning shown to the user.
    virtual void Warning(const std::string& text) = 0;
    // Why the email needs a person.
    virtual void Reason(const std::string& text) = 0;
};

// Notes kept in the order they came, to be replayed.
class RecordedNotes final : public ConversionNotes {
public:
    void Warning(const std::string& text) override { notes_.emplace_back(true, text); }
    void Reason(const std::string& text) override { notes_.emplace_back(false, text); }
    void ReplayTo(ConversionNotes& notes) const;

private:
    std::vector<std::pair<bool, std::string>> notes_; // (is a warning, text)
};

// The fixed passwords are deliberately wrong: a document that needs one
// fails to open or stays protected instead of asking.
inline constexpr const char* kDocumentPassword = "tqmzv";
inline constexpr const char* kProtectionPassword = "wrpkl";

// The text of the document at `path` (lines ending in CR LF), or nullopt when
// it did not open or was lost with its instance.  `macro` is the user's macro
// to run on it (empty: none).  Failures of the word processor become notes,
// never exceptions.  Touches nothing but `wordProcessor` and `notes`, so it
// may run on any thread that has the instance to itself.
std::optional<std::string> ConvertWithWordProcessor(wordproc::WordProcessor& wordProcessor,
                                                    const std::string& path,
                                                    const std::string& macro,
                                                    ConversionNotes& notes);

// Output files end their lines in CR LF, as a copied document's text does.
std::string WithCrLf(const std::string& text);

} // namespace qf
