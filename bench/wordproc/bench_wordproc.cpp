// Documents per second through one warm LibreOffice, next to starting
// `soffice --convert-to txt` once per document, measured in the same run.
//
//   bench_wordproc [--count N] [--cold-count N] [--keep DIR]
//
// N small documents of each kind (.doc, .docx, .rtf, .odt, .html) are made
// first; the warm path opens each, takes its text and closes it; the cold
// path converts the first --cold-count of each kind one process at a time.
#include "platform/wordproc/libreoffice.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qf::wordproc::DocumentId;
using qf::wordproc::LibreOffice;
using qf::wordproc::LibreOfficeOptions;

namespace {

const char* const kKinds[] = {"doc", "docx", "rtf", "odt", "html"};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

int Run(const std::string& command) {
    int rc = std::system(command.c_str());
    return rc;
}

std::string Quote(const fs::path& p) {
    std::string s = "'";
    for (char c : p.string()) {
        s += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return s + "'";
}

// Writes `count` small CVs as HTML, converts them to .odt with one soffice
// process, and stores .doc, .docx and .rtf copies through the warm instance.
std::map<std::string, std::vector<fs::path>> MakeDocuments(LibreOffice& office, const fs::path& dir,
                                                           int count) {
    std::map<std::string, std::vector<fs::path>> docs;
    fs::create_directories(dir / "html");
    for (int i = 0; i < count; ++i) {
        fs::path p = dir / "html" / ("cv" + std::to_string(i) + ".html");
        std::ofstream out(p);
        out << "<html><head><meta charset=\"utf-8\"><title>CV " << i
            << "</title></head><body><h1>Applicant " << i << "</h1>"
            << "<p>Experienced engineer number " << i
            << " with a background in logistics, databases and customer care.</p>"
            << "<table><tr><td>2019-2024</td><td>Senior engineer, Firm " << i
            << "</td></tr><tr><td>2015-2019</td><td>Engineer</td></tr></table>"
            << "<p>Languages: English, Deutsch, français.</p></body></html>\n";
        docs["html"].push_back(p);
    }
    fs::create_directories(dir / "odt");
    std::string command = "cd " + Quote(dir / "html") +
                          " && soffice --headless --norestore -env:UserInstallation=file://" +
                          (dir / "make-profile").string() +
                          " --infilter='HTML (StarWriter)' --convert-to odt --outdir " +
                          Quote(dir / "odt") + " *.html >/dev/null 2>&1";
    if (Run(command) != 0) {
        throw std::runtime_error("soffice --convert-to odt failed");
    }
    const std::pair<const char*, const char*> filters[] = {
        {"doc", "MS Word 97"}, {"docx", "MS Word 2007 XML"}, {"rtf", "Rich Text Format"}};
    for (int i = 0; i < count; ++i) {
        fs::path odt = dir / "odt" / ("cv" + std::to_string(i) + ".odt");
        docs["odt"].push_back(odt);
        DocumentId doc = office.Open(odt.string(), "tqmzv", "tqmzv");
        for (const auto& [ext, filter] : filters) {
            fs::create_directories(dir / ext);
            fs::path out = dir / ext / ("cv" + std::to_string(i) + "." + ext);
            office.StoreCopy(doc, out.string(), filter);
            docs[ext].push_back(out);
        }
        office.Close(doc);
    }
    return docs;
}

} // namespace

int main(int argc, char** argv) {
    int count = 50;
    int coldCount = 50;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--count" && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (a == "--cold-count" && i + 1 < argc) {
            coldCount = std::atoi(argv[++i]);
        } else if (a == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: bench_wordproc [--count N] [--cold-count N] [--keep DIR]\n");
            return 2;
        }
    }
    if (count < 1 || coldCount < 0 || coldCount > count) {
        std::fprintf(stderr, "bench_wordproc: need 1 <= --cold-count <= --count\n");
        return 2;
    }

    fs::path dir;
    if (!keep.empty()) {
        dir = keep;
        fs::create_directories(dir);
    } else {
        std::string tmpl = (fs::temp_directory_path() / "qf-bench-wordproc-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) {
            return 1;
        }
        dir = tmpl;
    }

    try {
        LibreOfficeOptions options;
        options.profileParent = (dir / "profiles").string();
        LibreOffice office(options);
        auto startAt = Clock::now();
        office.Connect();
        double startSeconds = Seconds(Clock::now() - startAt);
        std::printf("instance start: %.2f s\n", startSeconds);

        auto docs = MakeDocuments(office, dir, count);

        // One document first: the first conversion loads the filters.
        {
            DocumentId d = office.Open(docs["odt"].front().string(), "tqmzv", "tqmzv");
            office.WholeText(d);
            office.Close(d);
        }
        std::printf("\n%-6s %10s %12s %12s %12s %8s\n", "kind", "docs", "warm ms/doc",
                    "warm docs/s", "cold ms/doc", "ratio");
        double warmTotal = 0, coldTotal = 0;
        int warmDocs = 0, coldDocs = 0;
        // The cold path's profile is made once, outside the measurement.
        std::string coldProfile = "file://" + (dir / "cold-profile").string();
        fs::create_directories(dir / "cold-out");
        Run("soffice --headless --norestore -env:UserInstallation=" + coldProfile +
            " --convert-to txt:Text --outdir " + Quote(dir / "cold-out") + " " +
            Quote(docs["html"].front()) + " >/dev/null 2>&1");

        for (const char* kind : kKinds) {
            const auto& files = docs[kind];
            std::size_t chars = 0;
            auto t0 = Clock::now();
            for (const auto& f : files) {
                DocumentId d = office.Open(f.string(), "tqmzv", "tqmzv");
                chars += office.WholeText(d).size();
                office.Close(d);
            }
            double warm = Seconds(Clock::now() - t0);
            if (chars == 0) {
                throw std::runtime_error(std::string("no text from the .") + kind + " files");
            }

            auto t1 = Clock::now();
            for (int i = 0; i < coldCount; ++i) {
                if (Run("soffice --headless --norestore -env:UserInstallation=" + coldProfile +
                        " --convert-to txt:Text --outdir " + Quote(dir / "cold-out") + " " +
                        Quote(files[static_cast<std::size_t>(i)]) + " >/dev/null 2>&1") != 0) {
                    throw std::runtime_error("soffice --convert-to txt failed");
                }
            }
            double cold = Seconds(Clock::now() - t1);

            double warmPer = warm / static_cast<double>(files.size());
            double coldPer = coldCount ? cold / coldCount : 0;
            std::printf("%-6s %10zu %12.1f %12.1f %12.1f %7.1fx\n", kind, files.size(),
                        warmPer * 1000, 1 / warmPer, coldPer * 1000,
                        coldCount ? coldPer / warmPer : 0.0);
            warmTotal += warm;
            coldTotal += cold;
            warmDocs += static_cast<int>(files.size());
            coldDocs += coldCount;
        }
        double warmPer = warmTotal / warmDocs;
        double coldPer = coldDocs ? coldTotal / coldDocs : 0;
        std::printf("%-6s %10d %12.1f %12.1f %12.1f %7.1fx\n", "all", warmDocs, warmPer * 1000,
                    1 / warmPer, coldPer * 1000, coldDocs ? coldPer / warmPer : 0.0);
        std::printf("\nwarm path: %.1f documents/s; one process per document: %.2f documents/s; "
                    "warm is %.1fx faster per document\n",
                    1 / warmPer, coldDocs ? 1 / coldPer : 0.0, coldDocs ? coldPer / warmPer : 0.0);
        office.Quit();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_wordproc: %s\n", e.what());
        if (keep.empty()) {
            fs::remove_all(dir);
        }
        return 1;
    }
    if (keep.empty()) {
        fs::remove_all(dir);
    }
    return 0;
}
