#include "pmml_reading.h"

#include <fstream>
#include <sstream>

#include <pugixml.hpp>

#include "cli_harness.h"
#include "csv_reader.h"

namespace clitest {

std::vector<GroupFit> readGroupFits(const fs::path& outDir)
{
    std::vector<GroupFit> fits;
    std::istringstream index(readFile(outDir / "PMML" / "entries.tsv"));
    std::string line;
    std::getline(index, line);   // the column names
    while (std::getline(index, line)) {
        const std::string key = line.substr(0, line.find('\t'));
        if (key == "rootPMML") continue;
        GroupFit fit;
        fit.file = line.substr(key.size() + 1, line.find('\t', key.size() + 1) - key.size() - 1);
        pugi::xml_document doc;
        doc.load_string(readFile(outDir / "PMML" / fit.file).c_str());
        const pugi::xml_node root = doc.document_element();
        const pugi::xml_node info =
            root.child("MiningBuildTask").find_child_by_attribute("Extension", "name", "split-info");
        for (pugi::xml_node field : info.children("DataField")) {
            const pugi::xml_node value = field.child("Value");
            fit.split[field.attribute("name").value()] =
                value ? std::optional<std::string>(value.attribute("value").value()) : std::nullopt;
        }
        const pugi::xml_node table = root.child("RegressionModel").child("RegressionTable");
        fit.intercept = table.attribute("intercept").as_double();
        fit.event = table.attribute("targetCategory").value();
        for (pugi::xml_node p : table.children("NumericPredictor"))
            fit.coefficients[p.attribute("name").value()] = p.attribute("coefficient").as_double();
        for (pugi::xml_node p : table.children("CategoricalPredictor"))
            fit.coefficients[std::string(p.attribute("name").value()) + "=" + p.attribute("value").value()] =
                p.attribute("coefficient").as_double();
        fits.push_back(std::move(fit));
    }
    return fits;
}

const GroupFit* findFit(const std::vector<GroupFit>& fits,
                        const std::map<std::string, std::optional<std::string>>& split)
{
    for (const GroupFit& fit : fits)
        if (fit.split == split) return &fit;
    return nullptr;
}

double linearPredictor(const GroupFit& fit, const std::map<std::string, std::string>& record)
{
    double eta = fit.intercept;
    for (const auto& [name, coefficient] : fit.coefficients) {
        const auto eq = name.find('=');
        if (eq == std::string::npos)
            eta += coefficient * std::stod(record.at(name));
        else if (record.at(name.substr(0, eq)) == name.substr(eq + 1))
            eta += coefficient;
    }
    return eta;
}

std::vector<std::map<std::string, std::string>> readCsvRecords(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    splitrun::CsvReader reader(in, path.string());
    std::vector<std::map<std::string, std::string>> records;
    splitrun::CsvRecord record;
    while (reader.next(record)) {
        std::map<std::string, std::string> fields;
        for (std::size_t i = 0; i < record.fields.size(); ++i)
            if (!record.fields[i].isMissing()) fields[reader.header()[i]] = record.fields[i].value;
        records.push_back(std::move(fields));
    }
    return records;
}

}  // namespace clitest
