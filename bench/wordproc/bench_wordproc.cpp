// Documents per second through one warm LibreOffice, next to starting
// `soffice --convert-to txt` once per document, measured in the same run;
// the same documents through a pool of 1, 2, ... warm instances side by side
// (their texts checked against the single instance's); and PDFs through
// quillfence-pdftext (one process per PDF, as a run reads them) next to
// `pdftotext` started once per PDF.
//
//   bench_wordproc [--count N] [--cold-count N] [--pool MAX] [--rounds N]
//                  [--keep DIR] [--pdftext PROGRAM]
//
// N small documents of each kind (.doc, .docx, .rtf, .odt, .html, .pdf) are
// made first; the warm path opens each, takes its text and closes it; the
// cold path converts the first --cold-count of each kind one process at a
// time; pools of 1 to MAX instances (default 2; 0: none) convert all the
// documents in turn, --rounds times (default 3).
#include "common/process.h"
#include "platform/wordproc/libreoffice.h"
#include "platform/wordproc/office_pool.h"
#include "platform/wordproc/pdf/pdf_text_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qf::wordproc::DocumentId;
using qf::wordproc::LibreOffice;
using qf::wordproc::LibreOfficeOptions;
using qf::wordproc::WordProcessor;
using qf::wordproc::WordProcessorPool;

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

std::string TextOf(WordProcessor& office, const fs::path& file) {
    DocumentId d = office.Open(file.string(), "tqmzv", "tqmzv");
    std::string text = office.WholeText(d);
    office.Close(d);
    return text;
}

// CPU seconds used so far by this process and by the processes whose
// command line names `marker` (the offices with their profiles under it).
double CpuSeconds(const std::string& marker) {
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    double seconds = static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
                     static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::ifstream cmd(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(cmd)),
                            std::istreambuf_iterator<char>());
        if (cmdline.find(marker) == std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 0; fields >> field; ++i) {
            if (i == 11) {
                utime = std::stod(field);
            } else if (i == 12) {
                stime = std::stod(field);
                break;
            }
        }
        seconds += (utime + stime) / tick;
    }
    return seconds;
}

struct PoolTime {
    double seconds = 0;
    double cpuSeconds = 0; // this process and the offices
};

// A pool of warm instances, each of which has converted a few documents.
class WarmPool {
public:
    WarmPool(const LibreOfficeOptions& base, int instances, const std::vector<fs::path>& files)
        : options_(WithInstances(base, instances)), first_(options_),
          pool_((first_.Connect(), first_), instances) {
        const std::vector<fs::path> warmUp(
            files.begin(),
            files.begin() + std::min<std::ptrdiff_t>(4 * instances, std::ssize(files)));
        const auto until = Clock::now() + std::chrono::minutes(2);
        do {
            ConvertAll(warmUp);
        } while (pool_.Instances() < instances && Clock::now() < until);
        ConvertAll(warmUp);
        if (pool_.Instances() < instances) {
            throw std::runtime_error("only " + std::to_string(pool_.Instances()) +
                                     " instances started: " + pool_.StartFailure());
        }
    }
    ~WarmPool() {
        pool_.Shutdown();
        first_.Quit();
    }

    // Every document handed over at once and the texts taken in order, as a
    // run does; the texts must be `expected`.
    PoolTime Time(const std::vector<fs::path>& files, const std::vector<std::string>& expected) {
        const double cpu0 = CpuSeconds(options_.profileParent);
        const auto t0 = Clock::now();
        const std::vector<std::string> texts = ConvertAll(files);
        const double seconds = Seconds(Clock::now() - t0);
        const double cpu = CpuSeconds(options_.profileParent) - cpu0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (texts[i] != expected[i]) {
                throw std::runtime_error("a pool of " + std::to_string(options_.instances) +
                                         " gave another text for " + files[i].string());
            }
        }
        return {seconds, cpu};
    }

private:
    static LibreOfficeOptions WithInstances(LibreOfficeOptions options, int instances) {
        options.instances = instances;
        return options;
    }
    std::vector<std::string> ConvertAll(const std::vector<fs::path>& files) {
        std::vector<std::string> texts(files.size());
        std::vector<std::future<void>> done;
        for (std::size_t i = 0; i < files.size(); ++i) {
            done.push_back(pool_.Submit([&texts, &files, i](WordProcessor& office) {
                texts[i] = TextOf(office, files[i]);
            }));
        }
        for (auto& d : done) {
            d.get();
        }
        return texts;
    }

    LibreOfficeOptions options_;
    LibreOffice first_;
    WordProcessorPool pool_;
};

// Pools of 1 to `maxInstances` instances, all warm at once and measured in
// turn, `rounds` times, so that a change in the machine's load falls on each
// alike; the median round of each is shown.
void BenchPools(const LibreOfficeOptions& options, int maxInstances, int rounds,
                const std::vector<fs::path>& files, const std::vector<std::string>& expected,
                double singleSeconds) {
    std::vector<std::unique_ptr<WarmPool>> pools;
    for (int n = 1; n <= maxInstances; ++n) {
        pools.push_back(std::make_unique<WarmPool>(options, n, files));
    }
    std::vector<std::vector<PoolTime>> times(pools.size());
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t p = 0; p < pools.size(); ++p) {
            times[p].push_back(pools[p]->Time(files, expected));
        }
    }
    std::printf("\n%-10s %10s %12s %12s %14s %14s %12s\n", "instances", "docs", "ms/doc", "docs/s",
                "vs 1 in pool", "vs warm loop", "cores busy");
    std::vector<double> medians;
    for (std::size_t p = 0; p < pools.size(); ++p) {
        auto sorted = times[p];
        std::sort(sorted.begin(), sorted.end(),
                  [](const PoolTime& a, const PoolTime& b) { return a.seconds < b.seconds; });
        const PoolTime& median = sorted[sorted.size() / 2];
        medians.push_back(median.seconds);
        const double per = median.seconds / static_cast<double>(files.size());
        std::printf("%-10zu %10zu %12.1f %12.1f %13.2fx %13.2fx %12.2f\n", p + 1, files.size(),
                    per * 1000, 1 / per, medians.front() / median.seconds,
                    singleSeconds / median.seconds, median.cpuSeconds / median.seconds);
    }
    std::printf("(median of %d rounds; the warm loop above: one instance, %.1f ms/doc; every pool "
                "gave the warm loop's texts)\n",
                rounds, singleSeconds / static_cast<double>(files.size()) * 1000);
    for (int r = 0; r < rounds; ++r) {
        std::printf("round %d:", r + 1);
        for (std::size_t p = 0; p < pools.size(); ++p) {
            std::printf(" %zu: %.2f s", p + 1, times[p][static_cast<std::size_t>(r)].seconds);
        }
        std::printf("\n");
    }
}

// Runs argv to its end without a shell; its output goes to /dev/null.
void RunQuietly(const std::vector<std::string>& argv) {
    qf::SpawnOptions options;
    options.quiet = true;
    int error = 0;
    auto child = qf::ChildProcess::Start(argv, options, error);
    if (!child || !child->WaitFor(std::chrono::minutes(1)) || child->ExitStatus() != 0) {
        throw std::runtime_error(argv[0] + " failed");
    }
}

// The .odt CVs as PDFs (LibreOffice's export, as most CVs are made), read
// by quillfence-pdftext and by pdftotext, one process per PDF each.
void BenchPdfs(const fs::path& dir, const std::vector<fs::path>& odt, const std::string& reader) {
    fs::create_directories(dir / "pdf");
    std::vector<std::string> make = {
        "soffice",      "--headless",
        "--norestore",  "-env:UserInstallation=file://" + (dir / "make-profile").string(),
        "--convert-to", "pdf",
        "--outdir",     (dir / "pdf").string()};
    for (const auto& f : odt) {
        make.push_back(f.string());
    }
    RunQuietly(make);
    std::vector<fs::path> pdfs;
    for (const auto& f : odt) {
        pdfs.push_back(dir / "pdf" / f.filename().replace_extension(".pdf"));
    }

    qf::pdf::PdfTextOptions options;
    options.program = reader;
    qf::pdf::PdfTextProcess process(options);
    process.Read(pdfs.front().string()); // the libraries into the page cache
    std::size_t chars = 0;
    const auto t0 = Clock::now();
    for (const auto& f : pdfs) {
        chars += process.Read(f.string()).text.size();
    }
    const double ours = Seconds(Clock::now() - t0) / static_cast<double>(pdfs.size());
    if (chars == 0) {
        throw std::runtime_error("no text from the PDFs");
    }
    const std::string out = (dir / "pdftotext.txt").string();
    RunQuietly({"pdftotext", pdfs.front().string(), out});
    const auto t1 = Clock::now();
    for (const auto& f : pdfs) {
        RunQuietly({"pdftotext", "-q", f.string(), out});
    }
    const double theirs = Seconds(Clock::now() - t1) / static_cast<double>(pdfs.size());
    std::printf("\n%-6s %10s %16s %16s %8s\n", "kind", "docs", "pdftext ms/doc", "pdftotext ms/doc",
                "ratio");
    std::printf("%-6s %10zu %16.1f %16.1f %7.2fx\n", "pdf", pdfs.size(), ours * 1000, theirs * 1000,
                ours / theirs);
    std::printf("\nPDFs: %.1f documents/s through quillfence-pdftext, %.1f through pdftotext "
                "(both one process per PDF)\n",
                1 / ours, 1 / theirs);
}

} // namespace

int main(int argc, char** argv) {
    int count = 50;
    int coldCount = 50;
    int poolMax = 2;
    int rounds = 3;
    std::string keep;
    std::string pdfReader = QF_PDFTEXT_EXE;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--count" && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (a == "--cold-count" && i + 1 < argc) {
            coldCount = std::atoi(argv[++i]);
        } else if (a == "--pool" && i + 1 < argc) {
            poolMax = std::atoi(argv[++i]);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (a == "--keep" && i + 1 < argc) {
            keep = argv[++i];
        } else if (a == "--pdftext" && i + 1 < argc) {
            pdfReader = argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench_wordproc [--count N] [--cold-count N] [--pool MAX] "
                                 "[--rounds N] [--keep DIR] [--pdftext PROGRAM]\n");
            return 2;
        }
    }
    if (count < 1 || coldCount < 0 || coldCount > count || poolMax < 0 ||
        poolMax > qf::wordproc::kMaxInstances || rounds < 1) {
        std::fprintf(stderr,
                     "bench_wordproc: need 0 <= --cold-count <= --count, 1 <= --count, "
                     "0 <= --pool <= %d, 1 <= --rounds\n",
                     qf::wordproc::kMaxInstances);
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
        std::vector<fs::path> allFiles;
        std::vector<std::string> allTexts;
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
                allTexts.push_back(TextOf(office, f));
                chars += allTexts.back().size();
            }
            double warm = Seconds(Clock::now() - t0);
            allFiles.insert(allFiles.end(), files.begin(), files.end());
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
        if (coldDocs > 0) {
            std::printf("\nwarm path: %.1f documents/s; one process per document: %.2f "
                        "documents/s; warm is %.1fx faster per document\n",
                        1 / warmPer, 1 / coldPer, coldPer / warmPer);
        } else {
            std::printf("\nwarm path: %.1f documents/s\n", 1 / warmPer);
        }
        office.Quit();
        if (poolMax > 0) {
            BenchPools(options, poolMax, rounds, allFiles, allTexts, warmTotal);
        }
        BenchPdfs(dir, docs["odt"], pdfReader);
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
