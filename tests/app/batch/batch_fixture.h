// The batch program run as a user runs it, on a copy of the sample mailbox
// with private registry and profiles files.
#pragma once

#include "app/batch/exit_code.h"
#include "common/fileio.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>

namespace qf::testing {

using batch::ExitCode;

class SampleRun {
public:
    TempDir temp;
    std::string dir = temp.path();
    std::string maildir = dir + "Maildir";
    std::string output = dir + "TextFiles/";
    std::string manual = dir + "Manual/";
    std::string options = dir + "run.qfo";
    std::string out, err;

    // Copies the sample and writes an options file from the demo's, with
    // absolute folders; `change` adjusts it further.
    explicit SampleRun(const std::function<void(Settings&)>& change = {}) {
        namespace fs = std::filesystem;
        const std::string source = std::getenv("QF_SOURCE_DIR");
        fs::copy(source + "/examples/sample-maildir", maildir, fs::copy_options::recursive);
        for (const auto& e : fs::directory_iterator(maildir)) {
            if (e.is_directory() && e.path().filename().string().starts_with(".")) {
                for (const char* sub : {"/cur", "/new", "/tmp"}) {
                    fs::create_directories(e.path().string() + sub);
                }
            }
        }
        for (const char* sub : {"/cur", "/new", "/tmp"}) {
            fs::create_directories(maildir + sub);
        }
        fs::create_directories(output);
        fs::create_directories(manual);
        WriteFileAtomic(dir + "profiles.ini",
                        "[profile Demo]\ndefault = yes\nstore = maildir | Personal Folders | " +
                            maildir + "\n");
        Settings s;
        s.LoadFromFile(source + "/examples/demo.qfo");
        s.directory = output;
        s.manualFolder = manual;
        if (change) {
            change(s);
        }
        s.SaveToFile(options);
    }

    // Runs quillfence-batch with `args`; returns how it ended.
    ExitCode Run(const std::string& args) {
        const std::string cmd = "cd '" + dir + "' && QUILLFENCE_REGISTRY='" + dir +
                                "registry.reg' QUILLFENCE_PROFILES='" + dir +
                                "profiles.ini' '" QF_BATCH_EXE "' " + args + " >'" + dir +
                                "out' 2>'" + dir + "err' </dev/null";
        const int status = std::system(cmd.c_str());
        out = ReadFileBytes(dir + "out");
        err = ReadFileBytes(dir + "err");
        return static_cast<ExitCode>(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }

    std::vector<std::string> Outputs() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(output)) {
            if (e.path().filename() != ".quillfence-run") { // the run record
                names.push_back(e.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace qf::testing
