// quillfence-batch: the headless front end for terminals and schedulers.
#include "common/installation.h"

#include <CLI/CLI.hpp>
#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"Turns the emails waiting in a mail folder into numbered plain-text files.",
                 "quillfence-batch"};
    app.set_version_flag("--version", std::string(qf::kProductTitle) + " " + qf::kProductVersion);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    return 0;
}
