// split-run build: load and check the data, run the split components through
// the reference host, and write the outputs and the report.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include <refhost/host.h>
#include <refhost/module.h>
#include <refhost/run.h>

#include "build_engine.h"
#include "kept_to_exit.h"
#include "csv_stream.h"
#include "input_source.h"
#include "output_file.h"
#include "score_stream.h"
#include "commands.h"
#include "csv_table.h"
#include "data_model_text.h"
#include "errors.h"
#include "external_grouping.h"
#include "group_order.h"
#include "fits_ahead.h"
#include "group_worker.h"
#include "interrupt_cleanup.h"
#include "model_fields.h"
#include "output_dir.h"
#include "output_transaction.h"
#include "progress_bar.h"
#include "remote_groups.h"
#include "reusing_engine.h"
#include "report.h"
#include "run_summary.h"
#include "split_model_file.h"
#include "staged_store.h"
#include "stored_groups.h"
#include "streamed_csv_source.h"
#include "carried_fields.h"
#include "tables.h"
#include "thread_shares.h"
#include "value_parsing.h"
#include "visible_text.h"

namespace fs = std::filesystem;

namespace splitrun {

namespace {

// The files every successful build writes into DIR.
const std::vector<std::string> kBuildOutputs = {"containers.db", "groups.csv", "coefficients.csv",
                                                "covariance.csv", "split-model.pmml"};

// An input document handed to the workers. The module passes it on as text,
// which ends at a zero byte, and gives the workers nothing for an empty one:
// both would fail or cut every group's copy, so they are refused here.
// A document handed to the workers, read once and shared from here on.
refhost::SharedBytes optionalFile(const std::string& path, const std::string& option)
{
    if (path.empty()) return nullptr;
    std::string text = readInputFile(path, option);
    if (text.empty()) throw InputError(option + " " + path + ": the file is empty; give the document itself");
    return std::make_shared<const std::string>(std::move(text));
}

// The columns the components see: as loaded, with a logistic target whose
// storage was inferred marked as a flag.
std::vector<refhost::Column> componentColumns(const CsvTable& data, const ModelFields& fields,
                                              const BuildOptions& options)
{
    std::vector<refhost::Column> columns = data.table.columns();
    if (options.model == ModelChoice::Logistic && data.dataModelText.empty())
        columns[fields.targetColumn].measure = static_cast<int>(Measure::Flag);
    return columns;
}

// The input's size as counted against the memory limit: a loaded table
// takes about the file's size (a compressed file is taken at four times its
// size, or at the size its gzip trailer records when that is more, as it is
// for text that compresses well). Standard input and pipes arrive here as
// their copies (InputCopy).
std::optional<std::uint64_t> inputBytes(const BuildOptions& options)
{
    std::error_code ec;
    if (!fs::is_regular_file(options.dataFile, ec)) return std::nullopt;
    std::uint64_t bytes = fs::file_size(options.dataFile, ec);
    if (ec) return std::nullopt;
    unsigned char magic[2] = {0, 0};
    bool gzip = false;
    if (std::FILE* file = std::fopen(options.dataFile.c_str(), "rb")) {
        gzip = std::fread(magic, 1, 2, file) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
        std::fclose(file);
    }
    if (!gzip) return bytes;
    std::uint64_t recorded = 0;
    try {
        recorded = InputSource(options.dataFile, "--data", false).decodedSizeHint();
    } catch (const InputError&) {
        // the build's own reading reports it
    }
    return std::max(bytes * 4, recorded);
}

// The columns the build reads: those its records carry to the workers
// (every column when the inputs are left to their default).
std::vector<std::size_t> namedColumns(const CsvTable& data, const BuildOptions& options)
{
    const std::vector<bool> carried = carriedColumns(options, data.table.columns());
    std::vector<std::size_t> columns;
    for (std::size_t c = 0; c < data.table.columnCount(); ++c)
        if (carried.empty() || carried[c]) columns.push_back(c);
    return columns;
}

// True when the file is too large to load within the memory limit.
bool tooLargeToLoad(const BuildOptions& options)
{
    const std::optional<std::uint64_t> bytes = inputBytes(options);
    return bytes && *bytes > options.memoryLimit;
}

// The memory the check of a --presorted file may give the keys it holds: a
// quarter of the limit, as an external grouping's keys get, but never so
// little that a file of a few groups would be refused.
std::uint64_t presortedKeyBudget(const BuildOptions& options)
{
    return std::max<std::uint64_t>(options.memoryLimit / 4, std::uint64_t{1} << 20);
}

// Threads that order a loaded table: the build's, but no more than cores.
unsigned orderThreads(const BuildOptions& options)
{
    return std::max(1u, std::min(options.threads, std::thread::hardware_concurrency()));
}

// The bytes of distinct text profiling may keep of one column: a quarter of
// the limit, between twice what the data model lists of a field no model
// reads (so that loaded and streamed builds list the same) and the default.
std::size_t profileTextBudget(const BuildOptions& options)
{
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(options.memoryLimit / 4, std::uint64_t{2} << 20,
                                                              kProfileTextBytes));
}

// Puts the rows in distribution order: sorted by the split fields, or as
// given with --presorted after checking that groups are adjacent. Sorting
// frees and takes columns of like sizes in turn (the key codes, the row
// order, the gather's spares), so it reuses their blocks rather than
// having the kernel map and clear fresh ones.
void orderRows(CsvTable& data, const ModelFields& fields, const BuildOptions& options)
{
    if (options.presorted) {
        checkGrouped(data.table, fields.splitColumns, data.lines, data.source, orderThreads(options));
        return;
    }
    const refhost::ColumnBlockReuse reuse;
    if (const RowOrder order = sortedByKey(data.table, fields.splitColumns, orderThreads(options));
        !std::is_sorted(order.begin(), order.end()))   // a file in key order stays as it is
        data.table.permuteRows(order, orderThreads(options));
}

// The table the components see, taken from the loaded data, with the
// component columns' measures.
refhost::Table componentTable(CsvTable& data, const std::vector<refhost::Column>& columns)
{
    refhost::Table table = std::move(data.table);
    for (std::size_t i = 0; i < columns.size(); ++i) table.setMeasure(i, columns[i].measure);
    return table;
}

splitmodels::ModelSpec modelSpec(const BuildOptions& options, const ModelFields& fields)
{
    splitmodels::ModelSpec request;
    request.kind = options.model == ModelChoice::Logistic ? splitmodels::ModelKind::Logistic
                   : options.model == ModelChoice::Glm    ? splitmodels::ModelKind::Glm
                                                          : splitmodels::ModelKind::Linear;
    if (options.model == ModelChoice::Glm) {
        request.family = options.glm.family;
        request.link = options.glm.link;
        request.weights = options.glm.weights;
        request.offset = options.glm.offset;
        request.epsilon = options.glm.epsilon;
        request.maxIterations = options.glm.maxIterations;
    }
    request.target = fields.target;
    request.inputs = fields.inputs;
    request.formula = options.formula;
    request.event = options.event.value_or("");
    request.references = options.references;
    return request;
}

// The plain-words summary of a run in which every group failed: the
// reasons' kinds (the text before their first colon), most frequent first.
std::string noGroupFitted(const RunSummary& summary)
{
    std::vector<std::pair<std::string, std::size_t>> kinds;
    for (const GroupOutcome& group : summary.groups) {
        const std::string kind = group.failure.substr(0, group.failure.find(':'));
        auto at = std::find_if(kinds.begin(), kinds.end(), [&](const auto& k) { return k.first == kind; });
        if (at == kinds.end())
            kinds.emplace_back(kind, 1);
        else
            ++at->second;
    }
    std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text = "no group could be fitted: ";
    for (std::size_t i = 0; i < kinds.size(); ++i)
        text += (i ? ", " : "") + visibleText(kinds[i].first) + " in " + std::to_string(kinds[i].second) +
                (kinds[i].second == 1 ? " group" : " groups");
    if (summary.groups.size() == 1) text = "no group could be fitted: " + visibleText(summary.groups[0].failure);
    return text + "; groups.csv gives each group's reason (--verbose shows the components' messages)";
}

// The files a build reads, which --augment must not replace.
OutputFile::Inputs buildInputs(const BuildOptions& options)
{
    return {{"--data", options.dataFile},
            {"--data-model", options.dataModelFile},
            {"--input-pmml", options.inputPmmlFile},
            {"--input-statxml", options.inputStatXmlFile}};
}

// Scores the input again with the split model, writing for each record a
// fit used its diagnostics into `file`, which is left uncommitted.
void writeAugmentFile(const BuildOptions& options, const fs::path& splitModel, const ModelFields& fields,
                      std::optional<OutputFile>& file)
{
    splitmodels::SplitScorer scorer = splitmodels::SplitScorer::fromPmmlFile(splitModel.string());
    scorer.computeStandardErrors(true);
    InputSource input(options.dataFile, "--data", options.format.latin1);
    CsvStream reader(input.stream(), options.dataFile, options.format);
    scorer.bind(reader.header());
    ScoreOutput diagnostics;
    const auto target = std::find(reader.header().begin(), reader.header().end(), fields.target);
    diagnostics.augmentTarget = static_cast<int>(target - reader.header().begin());
    diagnostics.generalized = scorer.isGeneralized();
    if (scorer.isClassification())
        diagnostics.event = options.event ? *options.event : fields.targetValues.back();
    if (!options.glm.weights.empty()) {
        const auto weights = std::find(reader.header().begin(), reader.header().end(), options.glm.weights);
        diagnostics.augmentWeight = static_cast<int>(weights - reader.header().begin());
    }
    file.emplace(options.augmentFile, buildInputs(options), "--augment");
    scoreStream(reader, scorer, file->stream(), options.threads, diagnostics);
}

// The build on the host rank, once the data can be read more than once.
int buildFrom(const BuildOptions& options, BuildEngine& engine, std::ostream& out, std::ostream& err)
{
    const fs::path outDir = options.outDir;
    // A file too large to load is read again on every pass: profiled
    // first, checked for grouping (or grouped through temporary files),
    // then served to the run block by block.
    const bool streamed = tooLargeToLoad(options);
    // The profile's second pass also does the next pass's work: with
    // --presorted it checks the grouping and copies the records, typed, to
    // a spool that the run's passes read with no CSV parsing; otherwise it
    // finds the keys for external grouping and copies the records for it.
    // An error of that work waits until the fields are resolved, so that
    // problems with them are reported first, as with a pass of its own.
    std::optional<GroupedSpool> groupedSpool;
    std::optional<GroupingCheck> groupingCheck;
    std::optional<KeyPass> keyPass;
    std::vector<std::size_t> keysSeen;
    std::string foldedError;
    bool keysFound = false;
    bool started = false;
    const auto foldedPass = [&](const refhost::Table& block, const CsvBlock& records) {
        if (!started) {
            started = true;
            for (const std::string& name : options.splitFields)
                if (const auto index = block.columnIndex(name)) keysSeen.push_back(*index);
            keysFound = keysSeen.size() == options.splitFields.size();
            if (!keysFound) return;
            try {
                if (options.presorted) {
                    groupingCheck.emplace(keysSeen, options.dataFile, presortedKeyBudget(options));
                    groupedSpool.emplace(options.tempDir, SpoolWriteFunction{},
                                         carriedColumns(options, block.columns()));
                } else {
                    ExternalGroupingSettings settings;
                    settings.tempDir = options.tempDir;
                    settings.tempDirShownAs = options.tempDirShownAs;
                    settings.memoryLimit = options.memoryLimit;
                    settings.carried = carriedColumns(options, block.columns());
                    keyPass.emplace(keysSeen, settings);
                }
            } catch (const InputError& e) {
                foldedError = e.what();
            }
        }
        if (!keysFound || !foldedError.empty()) return;
        try {
            if (groupingCheck) {
                groupingCheck->add(block, records);
                groupedSpool->add(block);
            } else {
                keyPass->add(block);
            }
        } catch (const InputError& e) {
            foldedError = e.what();
            groupedSpool.reset();
            keyPass.reset();
        }
    };
    CsvTable data = streamed ? profileCsvFile(options.dataFile, options.dataModelFile, options.format,
                                              readStreamedCsv, foldedPass, options.categorical,
                                              profileTextBudget(options))
                             : readCsvTable(options.dataFile, options.dataModelFile, options.format,
                                            options.categorical);
    if (!options.dataShownAs.empty()) data.source = options.dataShownAs;
    if (data.recordCount() == 0)
        throw InputError(data.source + ": the file has a header but no records; there is "
                                            "nothing to build models from");
    refuseStrayTexts(data, namedColumns(data, options), options.format, options.categorical);
    const ModelFields fields = resolveModelFields(options, data);
    refhost::SharedBytes inputPmml = optionalFile(options.inputPmmlFile, "--input-pmml");
    refhost::SharedBytes inputStatXml = optionalFile(options.inputStatXmlFile, "--input-statxml");
    const std::vector<refhost::Column> columns = componentColumns(data, fields, options);
    std::shared_ptr<const refhost::RecordSource> source;
    // The passes over a streamed file show the records read until the
    // workers' groups take over the bar.
    ProgressBar progress = ProgressBar::forStderr(options.progress);
    std::mutex progressMutex;
    bool showingGroups = false;
    const auto showRecords = [&, total = data.recordCount()](std::size_t records) {
        std::lock_guard<std::mutex> guard(progressMutex);
        if (!showingGroups) progress.update(records, total, "records");
    };
    if (streamed) {
        auto file = std::make_shared<StreamedCsvSource>(data.file, options.format, columns, data.csvColumns);
        file->onBlock(showRecords);
        file->storagesFromDataModel(!options.dataModelFile.empty());
        if (options.presorted) {
            // The grouping was checked, and the records spooled, while the
            // file was profiled (a pass of its own when the split fields
            // were not found then); without room for the spool the run
            // reads the file again.
            std::shared_ptr<SpoolSource> spool;
            if (keysFound && keysSeen == fields.splitColumns) {
                if (!foldedError.empty()) throw InputError(foldedError);
                if (groupedSpool) spool = groupedSpool->finish(columns);
            } else {
                groupedSpool.reset();
                spool = spoolGroupedRecords(
                    columns, options.tempDir,
                    [&](const auto& eachBlock) {
                        checkGroupedFile(*file, fields.splitColumns, data.source, eachBlock,
                                         presortedKeyBudget(options));
                    },
                    SpoolWriteFunction{}, carriedColumns(options, columns));
            }
            if (spool) spool->onBlock(showRecords);
            source = spool ? std::shared_ptr<const refhost::RecordSource>(spool) : file;
        } else {
            // Records that need grouping are grouped through temporary
            // files, removed when the run ends (or is interrupted).
            ExternalGroupingSettings settings;
            settings.tempDir = options.tempDir;
            settings.tempDirShownAs = options.tempDirShownAs;
            settings.memoryLimit = options.memoryLimit;
            settings.inputBytes = inputBytes(options).value_or(0);
            settings.records = data.recordCount();
            settings.carried = carriedColumns(options, columns);
            settings.progress = [&](std::size_t done, std::size_t total) {
                std::lock_guard<std::mutex> guard(progressMutex);
                progress.update(done, total, "records grouped");
            };
            std::shared_ptr<SpoolSource> spool;
            if (keysFound && keysSeen == fields.splitColumns) {
                if (!foldedError.empty()) throw InputError(foldedError);
                spool = groupExternally(std::move(*keyPass), columns, settings);
                keyPass.reset();
            } else {
                keyPass.reset();
                spool = groupExternally(*file, fields.splitColumns, settings);
            }
            spool->onBlock(showRecords);
            source = spool;
        }
    } else {
        orderRows(data, fields, options);
    }
    OutputTransaction output(outDir, {{"--data", options.dataFile},
                                      {"--data-model", options.dataModelFile},
                                      {"--input-pmml", options.inputPmmlFile},
                                      {"--input-statxml", options.inputStatXmlFile}});
    output.refuseForeignFiles(kBuildOutputs);
    for (const std::string& note : data.notes) out << "Note: " << note << "\n";
    printFields(out, data);
    if (options.inputs.empty()) printIdentifierWarning(out, identifierInputs(data, fields.inputs));
    refhost::Table table = componentTable(data, columns);

    refhost::Module module;
    refhost::Host host(refhost::Faults::Mode::Off);  // a production run injects no faults
    const splitmodels::ModelSpec request = modelSpec(options, fields);
    // The worker, the engine and the run's result hold a block or more per
    // group; they are let go at the end (see kept_to_exit.h).
    auto workerOwner = std::make_unique<GroupWorker>(request);
    GroupWorker& worker = *workerOwner;
    worker.keepSplitKeys(fields.split);
    if (options.skipNonFinite) worker.skipNonFinite();

    refhost::RunConfig config;
    config.dataModel = componentDataModel(data, table, fields);
    // What the read kept per column (each field's summary and tallies, the
    // source lines) has served the data model and the report: a wide file
    // would otherwise hold it through the whole run.
    data = CsvTable();
    if (source)
        config.source = source;
    else
        config.sharedInput = std::make_shared<const refhost::Table>(std::move(table));
    config.splitFields = fields.split;
    config.targetFields = {fields.target};
    config.inputFields = fields.inputs;
    config.inputPmml = std::move(inputPmml);
    config.inputStatXml = std::move(inputStatXml);
    config.worker = [&worker](const refhost::WorkerJob& job) { return worker(job); };
    config.threads = options.threads;
    // Every build fingerprints its groups, so that the next one can be
    // incremental; with --incremental, the previous build's unchanged
    // groups are answered from its containers.db, open read-only until the
    // run ends (the output's switch leaves it whole until then).
    const std::string settings = encodeRemoteSetup(request, fields.split, options.skipNonFinite);
    std::unique_ptr<PreviousBuild> previous;
    if (options.incremental) {
        std::string why;
        previous = PreviousBuild::open((outDir / kContainerStoreName).string(), settings, why);
        if (!why.empty()) err << "split-run: --incremental: " << why << "; building every group\n";
    }
    const Fingerprinter fingerprinter(request, settings, fields.split);
    auto reusingOwner = std::make_unique<ReusingEngine>(engine.start(settings), fingerprinter, previous.get(), worker);
    ReusingEngine& reusing = *reusingOwner;
    config.engine = &reusing;
    // A loaded table's groups are fitted while the module plans the run,
    // on the threads its planning leaves idle.
    std::optional<FitsAhead> ahead;
    if (config.sharedInput && engine.local() && !previous && options.threads > 1) {
        std::vector<std::size_t> keyColumns;
        for (const std::string& name : fields.split)
            if (const auto column = config.sharedInput->columnIndex(name)) keyColumns.push_back(*column);
        ahead.emplace(config.sharedInput, std::move(keyColumns), worker, fingerprinter);
        reusing.takeFitsFrom(&*ahead);
        config.whilePlanning = [&ahead](const std::shared_ptr<const std::string>& dataModel,
                                        const std::atomic<bool>& planned) { ahead->work(dataModel, planned); };
    }
    // The output entries go into the staging containers.db as they are
    // collected; the split model and the groups rows read them back there.
    StagedStore staged(output.staging() / kContainerStoreName,
                       [&output](const fs::path& path) { output.startWriteback(path); });
    config.outputSink = &staged;
    config.received = [&worker](const refhost::WorkerJob& job, refhost::WorkerOutput& output) {
        adoptAttachment(worker, job, output);
    };
    config.progress = [&](std::size_t done, std::size_t total) {
        std::lock_guard<std::mutex> guard(progressMutex);
        if (!showingGroups) progress.finish();
        showingGroups = true;
        progress.update(done, total);
    };
    // The run's host objects (a key and a record set per group, and more)
    // are freed on a thread of their own while the outputs are written.
    std::thread hostObjectsFreed;
    const struct Joined {
        std::thread& thread;
        ~Joined() { if (thread.joinable()) thread.join(); }
    } joined{hostObjectsFreed};
    config.dispose = [&hostObjectsFreed](std::shared_ptr<void> hostObjects) {
        try {
            hostObjectsFreed = std::thread([objects = std::move(hostObjects)]() mutable { objects.reset(); });
        } catch (const std::system_error&) {
            // No thread: the objects were freed with the task it was given.
        }
    };
    auto resultOwner = std::make_unique<const refhost::RunResult>(refhost::runSplit(module, host, config));
    const refhost::RunResult& result = *resultOwner;
    progress.finish();
    engine.checkFailure();
    // A file that changed or broke between passes: its error, not the run's.
    if (const std::string error = source ? source->error() : ""; !error.empty()) throw InputError(error);

    RunSummary summary = summariseRun(result, worker);
    std::vector<int> splitStorages;
    for (std::size_t column : fields.splitColumns)
        splitStorages.push_back(config.inputColumns()[column].storage);
    const ReuseCounts reuse = markReusedGroups(summary, reusing, previous.get(), splitStorages);
    const std::string event = fields.targetValues.empty() ? std::string()
                              : options.event ? *options.event
                                              : fields.targetValues.back();
    printGroups(out, summary, fields.split, splitStorages, options, event);
    for (const std::string& note : summary.keyNotes) out << "Warning: " << note << "\n";
    if (options.incremental)
        out << "\nIncremental: " << reuse.reused << " reused, " << reuse.refitted << " refitted, " << reuse.added
            << " added, " << reuse.removed << " removed\n";

    // Everything is written into the staging directory and swapped into
    // DIR only when the run succeeds; a failed run leaves DIR as it was.
    // When every group failed, the tables are still written: groups.csv
    // says why each one failed.
    const bool succeeded = summary.models > 0 && summary.componentFailures.empty();
    const bool noneFitted = summary.models == 0 && !summary.groups.empty() && summary.failures == summary.groups.size();
    // The groups rows, the split model and the tables are written at once:
    // on one thread the rows, which read every group's entries back from
    // the store, and the store's indexes; on the other the split model, fed
    // the groups' PMML as the rows read it, and then the tables. A reused
    // group whose entries changed is read back from the previous build, so
    // it stays open until its groups are written.
    std::optional<SegmentFeed> feed;
    if (summary.models > 0) feed.emplace();
    runShares(2, [&](std::size_t share) {
        if (share == 0) {
            addStoredGroups(staged, summary, reusing, worker, result.outputs, splitStorages, settings,
                            feed ? &*feed : nullptr);
            staged.commit();
            output.startWriteback(output.staging() / kContainerStoreName);
            return;
        }
        if (feed) {
            writeSplitModelFile(output.staging() / "split-model.pmml", summary, fields, request, config.dataModel,
                                *feed);
            output.startWriteback(output.staging() / "split-model.pmml");
        }
        writeTables(summary, fields.split, splitStorages, options.model != ModelChoice::Linear,
                    output.staging(), options.confLevel);
        for (const char* table : {"groups.csv", "coefficients.csv", "covariance.csv"})
            output.startWriteback(output.staging() / table);
    });
    previous.reset();
    if (hostObjectsFreed.joinable()) hostObjectsFreed.join();
    const fs::path splitModelPath = outDir / "split-model.pmml";
    // The diagnostics are read off the split model in a second streamed
    // pass over the input, and written only when the run succeeds.
    std::optional<OutputFile> augmented;
    if (succeeded && !options.augmentFile.empty())
        writeAugmentFile(options, output.staging() / "split-model.pmml", fields, augmented);
    if (succeeded || noneFitted) output.commit();
    if (augmented) augmented->commit();

    if (const std::size_t skipped = worker.nonFiniteSkipped())
        out << "\nRecords left out for an infinite target, input, weight or offset (--non-finite skip): " << skipped << "\n";
    // With no group fitted the components' messages and failed steps only
    // restate it, in their own terms; --verbose shows them.
    const bool componentDetails = !noneFitted || options.verbose;
    if (noneFitted) out << "\n" << noGroupFitted(summary) << "\n";
    if (componentDetails && (!result.distributeMessages.empty() || !result.collectMessages.empty())) {
        out << "\nMessages:\n";
        printMessages(out, "split_distribute", result.distributeMessages);
        printMessages(out, "split_collect", result.collectMessages);
    }
    if (componentDetails && !summary.componentFailures.empty()) {
        out << "\nComponent steps that failed:\n";
        for (const std::string& line : summary.componentFailures) out << "  " << line << "\n";
    }
    if (succeeded)
        out << "\nOutput: " << (outDir / kContainerStoreName).string() << ", " << splitModelPath.string() << ", "
            << (outDir / "groups.csv").string() << ", " << (outDir / "coefficients.csv").string() << ", "
            << (outDir / "covariance.csv").string() << "\n";
    else if (noneFitted)
        out << "\nOutput: " << (outDir / "groups.csv").string() << " (every group's reason), "
            << (outDir / kContainerStoreName).string() << "\n";
    else
        out << "\nNo output written: the run did not succeed, so " << outDir.string()
            << " is left as it was\n";
    letGo(std::move(resultOwner));
    letGo(std::move(reusingOwner));
    letGo(std::move(workerOwner));
    return succeeded ? kExitModelsBuilt : kExitNoModel;
}

}  // namespace

int runBuild(const BuildOptions& options, std::ostream& out, std::ostream& err)
{
    BuildEngine engine(options.engine == EngineChoice::Mpi, options.threads);
    if (!engine.hostsRun()) {
        engine.serveGroups();
        return kExitModelsBuilt;
    }
    checkOutDir(options.outDir);
    // What builds killed outright left in the temporary directory (grouped
    // records, copies of standard input) goes now, whether or not this build
    // needs the directory: a loaded build would otherwise leave it for good.
    removeAbandonedWorkingPaths(options.tempDir, "split-run-tmp");
    removeAbandonedWorkingPaths(options.tempDir, "split-run-input");
    if (!options.augmentFile.empty()) OutputFile::refuseInput(options.augmentFile, buildInputs(options), "--augment");
    if (!InputCopy::needed(options.dataFile)) return buildFrom(options, engine, out, err);
    // Standard input or a pipe is copied to --temp-dir first and read from
    // there, so that --memory-limit bounds it as it bounds a file; messages
    // name it as given.
    const InputCopy copy(options.dataFile, "--data", options.tempDir);
    BuildOptions fromCopy = options;
    fromCopy.dataFile = copy.path();
    fromCopy.dataShownAs = options.dataFile == "-" ? "<stdin>" : options.dataFile;
    try {
        return buildFrom(fromCopy, engine, out, err);
    } catch (const InputError& e) {
        std::string message = e.what();
        for (std::size_t at = message.find(copy.path()); at != std::string::npos;
             at = message.find(copy.path(), at + fromCopy.dataShownAs.size()))
            message.replace(at, copy.path().size(), fromCopy.dataShownAs);
        throw InputError(message);
    }
}

}  // namespace splitrun
