// The scoring pipeline's output: input cells written back so they read as they were read, numbers scoring
// as the scorer's own reading of the text would, bit for bit, and the input cut into chunks for the
// workers reading, writing and failing as the one-thread reader does.
#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "errors.h"
#include "value_text.h"
#include "score_stream.h"

namespace {

// output: what was written, up to the error if any; error: empty when the input was read to its end;
// counts: what the summary reports
struct Outcome { std::string output; std::string error; splitrun::ScoreCounts counts; };

const std::string kLinear = clitest::readFile(SPLIT_SOURCE_ROOT "/tests/cli/linear.pmml");

// Scored with `pmml`: by default predicted_y = 1 + 2 x.
Outcome score(const std::string& input, unsigned threads, const splitrun::CsvFormat& format = {},
              const splitrun::ScoreOutput& output = {}, const std::string& pmml = kLinear)
{
    std::istringstream in(input);
    splitrun::CsvStream reader(in, "in.csv", format);
    splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmml(pmml);
    scorer.bind(reader.header());
    std::ostringstream out;
    Outcome outcome;
    try {
        outcome.counts = splitrun::scoreStream(reader, scorer, out, threads, output);
    } catch (const splitrun::InputError& e) {
        outcome.error = e.what();
    }
    outcome.output = out.str();
    return outcome;
}

TEST(ScoreStream, WritesInputCellsBackSoTheyReadAsTheyWereRead)
{
    const auto format = [](char delimiter, std::vector<std::string> na) {
        return splitrun::CsvFormat{.delimiter = delimiter, .naValues = std::move(na)};
    };
    const struct { splitrun::CsvFormat format; std::string input, output, naOut = "NA"; } cases[] = {
        // Plain lines copied whole, missing values written NA, quoted cells quoted only where needed.
        {format(',', {"NA"}), "id,x\nab,1\nNA,2\n,3\n\"a,b\",4\n\"NA\",5\n\"q\",6\r\n",
         "id,x,predicted_y\nab,1,3\nNA,2,5\nNA,3,7\n\"a,b\",4,9\n\"NA\",5,11\nq,6,13\n"},
        // NA is text when it is not a missing token, and is quoted so that it stays text.
        {format(',', {"-"}), "id,x\nNA,1\n-,-\n", "id,x,predicted_y\n\"NA\",1,3\nNA,NA,NA\n"},
        {format(';', {"NA"}), "id;x\n1,5;1\nz;NA\n", "id,x,predicted_y\n\"1,5\",1,3\nz,NA,NA\n"},
        {format('\t', {"NA"}), "id\tx\n\"a\"\"b\"\t2\n", "id,x,predicted_y\n\"a\"\"b\",2,5\n"},
        // Another token: a present text equal to it is quoted, so that it reads back as text.
        {format(',', {"NA"}), "id,x\n.,1\nNA,2\nz,\n", "id,x,predicted_y\n\".\",1,3\n.,2,5\nz,.,.\n", "."},
        // No token: missing values are empty fields.
        {format(',', {"NA"}), "id,x\nNA,2\nz,\n", "id,x,predicted_y\n,2,5\nz,,\n", ""},
    };
    for (const auto& c : cases)
        for (const unsigned threads : {1u, 2u})
            EXPECT_EQ(score(c.input, threads, c.format, splitrun::ScoreOutput{c.naOut}).output, c.output)
                << c.input << " on " << threads << " threads";
}

// A class that is the empty string is a prediction, written as a quoted
// empty text with its probabilities; a record without one is written NA.
TEST(ScoreStream, AnEmptyClassIsAPredictionNotAMissingOne)
{
    const std::string classes = clitest::readFile(SPLIT_SOURCE_ROOT "/tests/cli/empty_class.pmml");
    for (const char* naOut : {"NA", ""})
        EXPECT_EQ(score("x\n0\n-1e9\nNA\n", 1, {}, splitrun::ScoreOutput{naOut}, classes).output,
                  std::string("x,predicted_y,probability_,probability_b\n0,\"\",0.5,0.5\n-1e9,b,0,1\n") +
                      naOut + "," + naOut + "," + naOut + "," + naOut + "\n");
}

TEST(ScoreStream, NumbersReadInThePipelineScoreAsTheTextReadsByItself)
{
    // Texts the quick reader takes, texts it leaves to the scorer, and texts that are no number at all
    // (random decimal texts are compared with the library's reading where the quick reader is tested).
    const std::vector<std::string> texts = {"0.1", "-0", "+2.5", "1.", ".5", "12345678901234567890.5",
                                            "0.30000000000000004441", "1e-7", "1E300", "4.9e-324", " 3", "1e999",
                                            "0x10", "inf", "1,5", "1.5.", "-"};
    std::string input = "x\n", expected = "x,predicted_y\n";
    for (const std::string& text : texts) {
        input += text + "\n";
        expected += (text.find(',') != std::string::npos ? "\"" + text + "\"" : text) + ",";
        if (const auto x = splitmodels::detail::parseNumber(text))
            expected += splitmodels::detail::formatShortest(1 + 2 * *x);
        else
            expected += "NA";
        expected += "\n";
    }
    EXPECT_EQ(score(input, 1, splitrun::CsvFormat{.delimiter = ';'}).output, expected);
}

// The records of `input` as "line:field|field|..." lines, or only the error when there is one, read the
// serial way (target 0) or cut into chunks of about `target` bytes parsed by a reader of chunks (counted
// in `cuts`).
std::string readAll(const std::string& input, std::size_t target, std::size_t* cuts = nullptr)
{
    std::istringstream in(input);
    std::string seen;
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
                if (cuts) ++*cuts;
            }
            else if (!reader.next(block, 3)) {
                break;
            }
            for (std::size_t r = 0; r < block.size(); ++r) {
                seen += std::to_string(block.line(r)) + ":";
                for (std::size_t f = 0; f < block.width(); ++f)
                    seen += (block.isMissing(r, f) ? std::string("<NA>") : std::string(block.value(r, f))) + "|";
                seen += "\n";
            }
        }
    } catch (const splitrun::InputError& e) {
        return e.what();
    }
    return seen;
}

// Chosen inputs, then short random texts over the bytes that matter, cut everywhere.
TEST(ScoreChunks, ChunksReadAsTheSerialReaderWhereverTheyAreCut)
{
    std::vector<std::string> inputs = {
        "a,b\r\n1,2\r\n3,4\r\n5,6",
        "a,b\n1,2\r3,4\r\n\r5,6\n7,8\n",                   // lone CRs end lines
        "a,b\n1,2\n\"x\ny\",3\n4,5\n6,7\n8,9\n",           // a line break inside quotes
        "a,b\n1,2\n3,\"q\"\"\"\n4,5\n\"\",NA\n6,7\n",       // doubled quote, quoted empty, NA
        "a,b\n1,2\n3,4\n\n\r\n5,6\n7,8\n\n\n",             // blank lines between records and at the end
        "a,b\n1,2\n3,4\n5,6\n7\n8,9\n",                    // too few fields
        "a,b\n1,2\n3,4\n5,6\n7,8,9\n",                     // too many fields
        "a,b\n1,2\n3,4\n5,x\"y\n7,8\n",                    // a quote in an unquoted field
        "a,b\n1,2\n3,4\n5,\"open\n7,8\n",                  // never closed
        "a\n1\n\n2\n\n",                                   // one field: a blank line is a record
    };
    std::mt19937 rng(11);
    const char alphabet[] = {'a', '1', ',', ',', '\n', '\n', '\r', '"', 'N', 'A', ' '};
    for (int trial = 0; trial < 3000; ++trial) {
        std::string input = rng() % 2 ? "a,b\n" : "a\n";
        for (unsigned i = rng() % 40; i > 0; --i) input += alphabet[rng() % sizeof alphabet];
        inputs.push_back(input);
    }
    for (const std::string& input : inputs) {
        const std::string serial = readAll(input, 0);
        for (const std::size_t target : {1, 2, 3, 5, 9, 33})
            ASSERT_EQ(readAll(input, target), serial) << "chunks of " << target << " bytes, input:\n" << input;
    }
    // Lines ended by CRLF, as by LF, are cut into chunks rather than all read the serial way.
    for (const char* input : {"a,b\r\n1,2\r\n3,4\r\n5,6\r\n", "a,b\n1,2\n3,4\n5,6\n"}) {
        std::size_t cuts = 0;
        readAll(input, 9, &cuts);
        EXPECT_GE(cuts, 2u) << input;
    }
}

// Enough records for several chunks; record `at` replaced by `special`.
constexpr std::size_t kRecords = 40000;

std::string record(std::size_t i)
{
    return "r" + std::to_string(i) + "," + std::to_string(i % 997) + ".25";
}

std::string file(std::size_t at, const std::string& special, const std::string& lineEnd = "\n")
{
    std::string text = "id,x" + lineEnd;
    for (std::size_t i = 0; i < kRecords; ++i) text += (i == at ? special : record(i)) + lineEnd;
    return text;
}

// Whatever stands at or near a cut, the output and the error are those of one thread, line numbers
// included, and nothing from the bad record on is written.
TEST(ScoreChunks, ManyThreadsWriteAndFailAsOneThreadDoes)
{
    // special: replaces one record, line end not included; fails: the error is on the special record's first line
    const struct { const char* name; std::string special; bool fails; } cases[] = {
        {"quoted field with a line break", "\"r\nx\",3", false},
        {"quoted field with CRLF and a doubled quote", "\"a\"\"\r\nb\",4", false},
        {"quoted missing token is present", "\"NA\",5", false}, {"lone CR ends a line", "a,1\rb,2", false},
        {"blank line between records", "\nr,1", true}, {"blank CRLF line between records", "\r\nr,1", true},
        {"too few fields", "lonely", true}, {"too many fields", "a,1,2", true},
        {"quote inside an unquoted field", "a\"b,1", true}, {"text after a closing quote", "\"a\"b,1", true},
        {"never closed quote", "\"open,1", true},
    };
    for (const auto& c : cases) {
        for (const std::size_t at : {std::size_t{0}, std::size_t{17000}, std::size_t{25000}, kRecords - 1}) {
            SCOPED_TRACE(std::string(c.name) + " at record " + std::to_string(at));
            const std::string input = file(at, c.special);
            const Outcome one = score(input, 1), many = score(input, 3);
            ASSERT_EQ(many.error, one.error);
            if (!c.fails) {
                EXPECT_TRUE(one.error.empty()) << one.error;
                EXPECT_TRUE(many.output == one.output);
                continue;
            }
            EXPECT_EQ(one.error.rfind("in.csv:" + std::to_string(at + 2) + ":", 0), 0u) << one.error;
            // What was written is whole lines of the good records before it.
            const Outcome good = score(file(at, record(at)), 1);
            for (const Outcome* o : {&one, &many}) {
                EXPECT_EQ(good.output.compare(0, o->output.size(), o->output), 0);
                EXPECT_TRUE(o->output.empty() || o->output.back() == '\n');
                EXPECT_LE(static_cast<std::size_t>(std::count(o->output.begin(), o->output.end(), '\n')), at + 1);
            }
        }
    }
    const std::string plain = file(kRecords, "");
    for (const std::string& input : {file(kRecords, "", "\r\n"), plain + "\n\n\r\n", plain.substr(0, plain.size() - 1),
                                     file(20000, "\"q\",1"), file(30000, "m,NA"),
                                     file(35000, "v,abc")}) {
        const Outcome one = score(input, 1), many = score(input, 2);
        EXPECT_EQ(one.error + many.error, "");
        EXPECT_TRUE(many.output == one.output);
        EXPECT_EQ(static_cast<std::size_t>(std::count(one.output.begin(), one.output.end(), '\n')), kRecords + 1);
        for (const Outcome* o : {&one, &many})   // the summary's counts take each block once
            EXPECT_EQ(std::vector({o->counts.records, o->counts.unmatched, o->counts.invalid, o->counts.unpredicted}),
                      std::vector<std::size_t>({kRecords, 0, input.find("v,abc") != input.npos, input.find("m,NA") != input.npos}));
    }
}

}  // namespace
