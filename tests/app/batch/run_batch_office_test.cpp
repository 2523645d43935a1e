// The demo's own settings through quillfence-batch with the real
// LibreOffice: documents of the sample become text in the output files.
#include "batch_fixture.h"

#include <gtest/gtest.h>

namespace qf::testing {
namespace {

TEST(BatchRunWithOffice, TheSampleMailboxWithItsAttachments) {
    SampleRun run;
    ASSERT_EQ(run.Run("run.qfo --update-count --report report.csv"), ExitCode::Complete)
        << run.out << run.err;
    ASSERT_EQ(run.Outputs().size(), 12u);
    std::string all;
    for (const auto& name : run.Outputs()) {
        all += ReadFileBytes(run.output + name);
    }
    // The CVs sent as .doc, .docx and .rtf come back as their text.
    EXPECT_NE(all.find("Curriculum vitae"), std::string::npos);
    EXPECT_EQ(all.find("detach"), std::string::npos);
    Settings saved;
    saved.LoadFromFile(run.options);
    EXPECT_EQ(saved.firstNumber, 13);

    // The report says what became of the documents and of the one email a
    // person must see to.
    const std::string report = ReadFileBytes(run.dir + "report.csv");
    EXPECT_NE(report.find(".docx: converted to text"), std::string::npos) << report;
    EXPECT_NE(report.find(".rtf: converted to text"), std::string::npos) << report;
    EXPECT_EQ(report.find(": not converted"), std::string::npos) << report;
    EXPECT_EQ(report.find(": failed"), std::string::npos) << report;
    EXPECT_NE(report.find("portfolio.zip: flagged for manual handling"), std::string::npos)
        << report;
    EXPECT_NE(report.find(",not disposed,yes,"), std::string::npos) << report;
    EXPECT_TRUE(report.ends_with(",complete,,,Complete. 12 emails processed\r\n")) << report;
}

TEST(BatchRunWithOffice, ThePdfCvGivesItsTextWhenPdfsAreConverted) {
    // The PDF reader is found beside the program, as in an installation.
    SampleRun run([](Settings& s) {
        for (std::size_t i = 0; i < s.extensions.size(); ++i) {
            if (s.extensions[i] == ".pdf") {
                s.extensionActions[i] = "1";
            }
        }
    });
    ASSERT_EQ(run.Run("run.qfo"), ExitCode::Complete) << run.out << run.err;
    std::string pdfEmail;
    for (const auto& name : run.Outputs()) {
        const std::string text = ReadFileBytes(run.output + name);
        if (text.find("UX Designer position") != std::string::npos) {
            pdfEmail = text;
        }
    }
    EXPECT_NE(pdfEmail.find("Applying for: UX Designer\r\nExperience: 5 years in the field."),
              std::string::npos)
        << pdfEmail;
    EXPECT_EQ(run.out.find("Lena_Virtanen.pdf"), std::string::npos) << run.out;
}

} // namespace
} // namespace qf::testing
