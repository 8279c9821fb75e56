// The scoring pipeline's output: input cells written back as they were read (a line copied whole, a
// cell quoted where reading it back needs that), and numbers the pipeline reads itself scoring as the
// scorer's own reading of the text would, bit for bit.
#include <charconv>
#include <cstring>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "../../platform/models/value_text.h"
#include "score_stream.h"

namespace {

// predicted_y = 1 + 2 x.
splitmodels::SplitScorer lineModel()
{
    return splitmodels::SplitScorer::fromPmml(R"(<PMML version="4.4"><Header/><DataDictionary>
      <DataField name="x" optype="continuous" dataType="double"/><DataField name="y" optype="continuous"
      dataType="double"/></DataDictionary><RegressionModel functionName="regression"><MiningSchema>
      <MiningField name="x"/><MiningField name="y" usageType="target"/></MiningSchema>
      <RegressionTable intercept="1"><NumericPredictor name="x" coefficient="2"/></RegressionTable>
      </RegressionModel></PMML>)");
}

std::string score(const std::string& input, const splitrun::CsvFormat& format, unsigned threads = 1)
{
    std::istringstream in(input);
    splitrun::CsvStream reader(in, "in.csv", format);
    splitmodels::SplitScorer scorer = lineModel();
    scorer.bind(reader.header());
    std::ostringstream out;
    splitrun::scoreStream(reader, scorer, out, threads);
    return out.str();
}

TEST(ScoreStream, WritesInputCellsBackSoTheyReadAsTheyWereRead)
{
    const auto format = [](char delimiter, std::vector<std::string> na) {
        return splitrun::CsvFormat{.delimiter = delimiter, .naValues = std::move(na)};
    };
    const struct {
        splitrun::CsvFormat format;
        std::string input;
        std::string output;
    } cases[] = {
        // Plain lines copied whole, missing tokens emptied, quoted cells quoted only where needed.
        {format(',', {"NA"}), "id,x\nab,1\nNA,2\n,3\n\"a,b\",4\n\"NA\",5\n\"q\",6\r\n",
         "id,x,predicted_y\nab,1,3\n,2,5\n,3,7\n\"a,b\",4,9\n\"NA\",5,11\nq,6,13\n"},
        // NA is text when it is not a missing token, and is quoted so that it stays text.
        {format(',', {"-"}), "id,x\nNA,1\n-,-\n", "id,x,predicted_y\n\"NA\",1,3\n,,\n"},
        // Another delimiter: an unquoted comma needs quotes in the comma-delimited output.
        {format(';', {"NA"}), "id;x\n1,5;1\nz;NA\n", "id,x,predicted_y\n\"1,5\",1,3\nz,,\n"},
        {format('\t', {"NA"}), "id\tx\n\"a\"\"b\"\t2\n", "id,x,predicted_y\n\"a\"\"b\",2,5\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(score(c.input, c.format), c.output) << c.input;
        EXPECT_EQ(score(c.input, c.format, 2), c.output) << c.input << " on 2 threads";
    }
}

TEST(ScoreStream, NumbersReadInThePipelineScoreAsTheTextReadsByItself)
{
    // Texts the quick reader takes, texts it leaves to the scorer (long, exponents, blanks, a plus), and
    // texts that are no number at all (no prediction).
    std::vector<std::string> texts = {"0.1", "-0", "+2.5", "1.", ".5", "12345678901234567890.5",
                                      "0.30000000000000004441", "1e-7", "1E300", "4.9e-324", " 3", "1e999", "0x10",
                                      "inf", "1,5", "1.5.", "-"};
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int> digits(0, 9), length(1, 22);
    for (int i = 0; i < 3000; ++i) {
        std::string text = i % 3 ? "" : "-";
        const int whole = length(rng) / 2, fraction = length(rng);
        for (int d = 0; d < whole; ++d) text += static_cast<char>('0' + digits(rng));
        text += '.';
        for (int d = 0; d < fraction; ++d) text += static_cast<char>('0' + digits(rng));
        texts.push_back(text);
    }
    std::string input = "x\n", expected = "x,predicted_y\n";
    for (const std::string& text : texts) {
        input += text + "\n";
        expected += (text.find(',') != std::string::npos ? "\"" + text + "\"" : text) + ",";
        if (const auto x = splitmodels::detail::parseNumber(text)) expected += splitmodels::detail::formatShortest(1 + 2 * *x);
        expected += "\n";
    }
    const std::string got = score(input, splitrun::CsvFormat{.delimiter = ';'});
    std::istringstream gotLines(got), expectedLines(expected);
    for (std::string a, b; std::getline(expectedLines, b);) {
        ASSERT_TRUE(std::getline(gotLines, a));
        ASSERT_EQ(a, b);
    }
}

}  // namespace
