// The scoring pipeline's output: input cells written back as they were read (a line copied whole, a
// cell quoted where reading it back needs that), and numbers the pipeline reads itself scoring as the
// scorer's own reading of the text would, bit for bit.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../platform/models/value_text.h"
#include "errors.h"
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

// Parsing on the workers: with several threads the input is cut into chunks
// of whole lines that the workers parse. Whatever stands at or near a cut
// (quotes, line breaks inside quotes, CRLF or lone CR line ends, blank
// lines, malformed records), the output and the error must be those of the
// one-thread reader, line numbers included, and nothing from the bad record
// on may be written.

struct Outcome {
    std::string output;   // what was written, up to the error if any
    std::string error;    // empty when the input was read to its end
};

Outcome score(const std::string& input, unsigned threads)
{
    std::istringstream in(input);
    splitrun::CsvStream reader(in, "in.csv");
    splitmodels::SplitScorer scorer = lineModel();
    scorer.bind(reader.header());
    std::ostringstream out;
    Outcome outcome;
    try {
        splitrun::scoreStream(reader, scorer, out, threads);
    } catch (const splitrun::InputError& e) {
        outcome.error = e.what();
    }
    outcome.output = out.str();
    return outcome;
}

// Enough records for several chunks.
constexpr std::size_t kRecords = 40000;

std::string record(std::size_t i)
{
    return "r" + std::to_string(i) + "," + std::to_string(i % 997) + ".25";
}

// The file: a header, then kRecords records, record `at` replaced by `special`.
std::string file(std::size_t at, const std::string& special, const std::string& lineEnd = "\n")
{
    std::string text = "id,x" + lineEnd;
    for (std::size_t i = 0; i < kRecords; ++i) text += (i == at ? special : record(i)) + lineEnd;
    return text;
}

struct Case {
    const char* name;
    std::string special;   // replaces one record, line end not included
    bool fails;            // the error is on the special record's first line
};

// The records of `input` as "line:field|field|..." lines, or only the
// error when there is one (the records handed out before it depend on the
// blocks), read the serial way or cut into chunks of about `target` bytes
// (0: serial) parsed by a reader of chunks.
std::string readAll(const std::string& input, std::size_t target)
{
    std::istringstream in(input);
    std::string seen;
    const auto append = [&](const splitrun::CsvBlock& block) {
        for (std::size_t r = 0; r < block.size(); ++r) {
            seen += std::to_string(block.line(r)) + ":";
            for (std::size_t f = 0; f < block.width(); ++f)
                seen += (block.isMissing(r, f) ? std::string("<NA>") : std::string(block.value(r, f))) + "|";
            seen += "\n";
        }
    };
    try {
        splitrun::CsvStream reader(in, "in.csv");
        splitrun::CsvStream parser(reader.sourceName(), reader.format(), reader.header());
        splitrun::CsvBlock block;
        splitrun::CsvChunk chunk;
        for (;;) {
            const auto cut = target == 0 ? splitrun::CsvStream::Chunk::Serial : reader.nextChunk(chunk, target);
            if (cut == splitrun::CsvStream::Chunk::End) break;
            if (cut == splitrun::CsvStream::Chunk::Cut) {
                parser.parseChunk(chunk, block);
            } else if (!reader.next(block, 3)) {
                break;
            }
            append(block);
        }
    } catch (const splitrun::InputError& e) {
        return e.what();
    }
    return seen;
}

TEST(ScoreChunks, ChunksReadAsTheSerialReaderWhereverTheyAreCut)
{
    const std::vector<std::string> inputs = {
        "a,b\n1,2\n3,4\n5,6\n",
        "a,b\r\n1,2\r\n3,4\r\n5,6",
        "a,b\n1,2\r3,4\r\n\r5,6\n7,8\n",                   // lone CRs end lines
        "a,b\n1,2\n\"x\ny\",3\n4,5\n6,7\n8,9\n",           // a line break inside quotes
        "a,b\n1,2\n3,\"q\"\"\"\n4,5\n\"\",NA\n6,7\n",       // doubled quote, quoted empty, NA
        "a,b\n1,2\n3,4\n\n\n",                             // blank lines at the end
        "a,b\n1,2\n3,4\n\n\r\n5,6\n7,8\n",                 // blank lines between records
        "a,b\n1,2\n3,4\n5,6\n7\n8,9\n",                    // too few fields
        "a,b\n1,2\n3,4\n5,6\n7,8,9\n",                     // too many fields
        "a,b\n1,2\n3,4\n5,x\"y\n7,8\n",                    // a quote in an unquoted field
        "a,b\n1,2\n3,4\n5,\"open\n7,8\n",                  // never closed
        "a\n1\n\n2\n\n",                                   // one field: a blank line is a record
    };
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string serial = readAll(inputs[i], 0);
        for (const std::size_t target : {1, 2, 3, 5, 8, 13, 64}) {
            SCOPED_TRACE("input " + std::to_string(i) + ", chunks of " + std::to_string(target) + " bytes");
            EXPECT_EQ(readAll(inputs[i], target), serial);
        }
    }
}

// Short random texts over the bytes that matter (delimiters, line ends,
// quotes, the missing token), cut everywhere.
TEST(ScoreChunks, RandomInputsReadAsTheSerialReaderWhereverTheyAreCut)
{
    std::mt19937 rng(11);
    const char alphabet[] = {'a', '1', ',', ',', '\n', '\n', '\r', '"', 'N', 'A', ' '};
    for (int trial = 0; trial < 3000; ++trial) {
        std::string input = rng() % 2 ? "a,b\n" : "a\n";
        for (unsigned i = rng() % 40; i > 0; --i) input += alphabet[rng() % sizeof alphabet];
        const std::string serial = readAll(input, 0);
        for (const std::size_t target : {1, 2, 4, 9, 33})
            ASSERT_EQ(readAll(input, target), serial) << "chunks of " << target << " bytes, input:\n" << input;
    }
}

TEST(ScoreChunks, ManyThreadsWriteAndFailAsOneThreadDoes)
{
    const std::vector<Case> cases = {
        {"quoted field with a line break", "\"r\nx\",3", false},
        {"quoted field with CRLF and a doubled quote", "\"a\"\"\r\nb\",4", false},
        {"quoted missing token is present", "\"NA\",5", false},
        {"lone CR ends a line", "a,1\rb,2", false},
        {"blank line between records", "\nr,1", true},
        {"blank CRLF line between records", "\r\nr,1", true},
        {"too few fields", "lonely", true},
        {"too many fields", "a,1,2", true},
        {"quote inside an unquoted field", "a\"b,1", true},
        {"text after a closing quote", "\"a\"b,1", true},
        {"never closed quote", "\"open,1", true},
    };
    // The first record, two past the first cut, the last.
    const std::vector<std::size_t> positions = {0, 17000, 25000, kRecords - 1};
    for (const Case& c : cases) {
        for (const std::size_t at : positions) {
            SCOPED_TRACE(std::string(c.name) + " at record " + std::to_string(at));
            const std::string input = file(at, c.special);
            const Outcome one = score(input, 1);
            const Outcome many = score(input, 3);
            ASSERT_EQ(many.error, one.error);
            if (!c.fails) {
                EXPECT_TRUE(one.error.empty()) << one.error;
                EXPECT_TRUE(many.output == one.output);
                continue;
            }
            // The special record's first line: the header is line 1.
            const std::string line = "in.csv:" + std::to_string(at + 2) + ":";
            EXPECT_EQ(one.error.rfind(line, 0), 0u) << one.error;
            // What was written is whole lines of the good records before it.
            const Outcome good = score(file(at, record(at)), 1);
            for (const Outcome* o : {&one, &many}) {
                EXPECT_EQ(good.output.compare(0, o->output.size(), o->output), 0);
                EXPECT_TRUE(o->output.empty() || o->output.back() == '\n');
                EXPECT_LE(static_cast<std::size_t>(std::count(o->output.begin(), o->output.end(), '\n')), at + 1);
            }
        }
    }
}

TEST(ScoreChunks, LineEndsAndTheLastLineCutAsTheyRead)
{
    const std::vector<std::string> inputs = {
        file(kRecords, "", "\r\n"),                       // CRLF throughout
        file(kRecords, "") + "\n\n\r\n",                  // blank lines at the end are ignored
        file(kRecords, "").substr(0, file(kRecords, "").size() - 1),   // no final line end
        file(20000, "\"q\",1"),                          // one quote half-way, plain lines after it
    };
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        const Outcome one = score(inputs[i], 1);
        const Outcome many = score(inputs[i], 2);
        EXPECT_EQ(one.error, "");
        EXPECT_EQ(many.error, "");
        EXPECT_TRUE(many.output == one.output);
        EXPECT_EQ(static_cast<std::size_t>(std::count(one.output.begin(), one.output.end(), '\n')), kRecords + 1);
    }
}

}  // namespace
