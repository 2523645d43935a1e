// A private copy of the bundled sample mailbox with a profiles file naming
// it (QUILLFENCE_PROFILES), and a folder for the text files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qf::desktop::testing {

class SampleMailbox {
public:
    SampleMailbox() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qfdesk.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root_ = pattern;
        namespace fs = std::filesystem;
        const fs::path sample = fs::path(std::getenv("QF_SOURCE_DIR")) / "examples/sample-maildir";
        fs::copy(sample, root_ / "Maildir", fs::copy_options::recursive);
        for (const char* sub : {"cur", "new", "tmp"}) {
            fs::create_directories(root_ / "Maildir" / sub);
        }
        fs::create_directories(root_ / "TextFiles");
        fs::create_directories(root_ / "Manual");
        std::ofstream(root_ / "profiles.ini")
            << "[profile Sample]\ndefault = yes\nstore = maildir | Personal Folders | "
            << (root_ / "Maildir").string() << "\n";
        ::setenv("QUILLFENCE_PROFILES", (root_ / "profiles.ini").c_str(), 1);
    }
    ~SampleMailbox() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    SampleMailbox(const SampleMailbox&) = delete;
    SampleMailbox& operator=(const SampleMailbox&) = delete;

    std::filesystem::path Root() const { return root_; }
    std::string TextFolder() const { return (root_ / "TextFiles").string() + "/"; }
    std::string ManualFolder() const { return (root_ / "Manual").string() + "/"; }
    int MessageCount() const {
        int n = 0;
        for (const char* sub : {"cur", "new"}) {
            for ([[maybe_unused]] const auto& entry :
                 std::filesystem::directory_iterator(root_ / "Maildir" / sub)) {
                ++n;
            }
        }
        return n;
    }

private:
    std::filesystem::path root_;
};

} // namespace qf::desktop::testing
