#!/usr/bin/env bash
# A small mutation run over the module's sources: each mutant below changes
# one line of src/ with sed, the module and its test executables are rebuilt
# in build/mutate, and the mutant counts as killed when any of those tests
# fails (or the build fails: "stillborn", left out of the score). The source
# file is restored after every mutant, also when the run is interrupted.
#
#   bash scripts/mutate.sh            # every mutant
#   bash scripts/mutate.sh 3 17       # only these (numbers as listed)
#
# One mutant takes about 30 s on two cores (a rebuild of one file and the
# test links, then the module's tests). Results go to build/mutate/mutants.log.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build/mutate

# file|sed expression (applied to that one file; must change it)
mutants=(
  'src/distribute/split_keys.cpp|s/kRealTolerance = 1e-15/kRealTolerance = 1e-14/'
  'src/distribute/split_keys.cpp|s/) > kRealTolerance) {/) >= kRealTolerance) {/'
  'src/distribute/split_keys.cpp|0,/entry.data.reset();/s//;/'
  # Equivalent: the two keys compared are always prepared from the same split
  # fields, so their sizes never differ; it survives by design.
  'src/distribute/split_keys.cpp|s/if (a.size() != b.size()) return kDifferent;//'
  'src/distribute/split_keys.cpp|s/x.storage != y.storage || x.length != y.length/x.storage != y.storage/'
  'src/distribute/split_keys.cpp|s/std::strncmp(x.data.get(), y.data.get(), x.length)/std::memcmp(x.data.get(), y.data.get(), x.length)/'
  'src/distribute/configuration.cpp|s/product \*= static_cast<uint32_t>(categories);/product *= static_cast<uint32_t>(categories < 0 ? 0 : categories);/'
  'src/distribute/configuration.cpp|s/if (!dataModelParsed) return CF_FAILED;/if (fieldInfos.empty()) return CF_FAILED;/'
  'src/distribute/worker_planning.cpp|s/if (CompareSplitKeys(current, next) == 0) continue;/if (CompareSplitKeys(current, next) != 0) continue;/'
  'src/distribute/worker_handout.cpp|0,/RaiseError(kMsgRecordRefused);/s//;/'
  'src/distribute/task_document.cpp|s/nullText = XMLEntities::True;/nullText = XMLEntities::False;/'
  'src/distribute/value_text.cpp|s/%.16f/%.15f/g'
  "src/distribute/value_text.cpp|s/text\[comma\] = '.';/(void)comma;/"
  'src/distribute/input_containers.cpp|s/kChunk = 1023;/kChunk = 1024;/'
  'src/collect/completed_worker_task.cpp|s/if (outcome != 0)/if (outcome > 0)/'
  'src/collect/completed_worker_task.cpp|s/if (splitFieldNames.empty())/if (!entries.empty())/'
  'src/collect/completed_worker_task.cpp|s/^            ReportSplitFailure(entries, err);$//'
  'src/collect/report_split_failure.cpp|s/XMLAttributes::Type, XMLEntities::Error/XMLAttributes::Type, XMLEntities::True/'
  'src/collect/report_split_failure.cpp|s/printable.addAttribute("isKey", XMLEntities::True);//'
  'src/collect/read_split_fields.cpp|s/entry.measure = 6;/entry.measure = 0;/'
  'src/collect/read_split_fields.cpp|s/if (status == CF_BUFFER_TOO_SMALL) {/if (false) {/'
  'src/collect/read_worker_container.cpp|s/while (count == 1023);/while (count == 1022);/'
  'src/collect/process_worker_statxml.cpp|s/worker.document.doc2string(statXMLText);//'
  'src/collect/write_group_entry.cpp|s/if (!output.openFailureIsError) return CF_OK;//'
  'src/collect/entry_properties.cpp|s/"\\ntypeId="/";typeId="/'
  'src/collect/end_execution.cpp|s/CollectMsgs(QorCF_940::MsgError, 280014, err);//'
  'src/collect/begin_execution.cpp|s#"/StatXML_7.0.xsd"#"/StatXML.xsd"#'
  'src/collect/host_lock_scope.h|0,/held_ = true;/s//held_ = false;/'
  'src/annotate/add_pmml_split_info.cpp|s/root.insertElementBefore("MiningBuildTask", dictionaries.next())/root.addElement("MiningBuildTask")/'
  'src/annotate/add_pmml_split_info.cpp|s/case 4: return "ordinal";/case 4: return "continuous";/'
  'src/annotate/add_pmml_split_info.cpp|s/if (entry.isNull == falseText)/if (entry.isNull != XMLEntities::True)/'
  'src/annotate/add_statxml_split_group.cpp|s/if (models.isEmpty()) models = FirstChild(root, "DescriptiveModel");//'
  'src/annotate/add_statxml_split_group.cpp|s/CopyIfNotEmpty(inputField, workerField, XMLAttributes::DisplayLabel);//'
  'src/annotate/add_model_summary.cpp|s/if (!segmentId.empty()) summary/summary/'
  'src/annotate/find_summary_model.cpp|s/if (candidate.getAttribute("modelType") != kMiningModel) return candidate;/return candidate;/'
  'src/datamodel/build_collected_data_model.cpp|s/count + 1);/count);/'
  'src/module/module_information.cpp|s/kVersion = "1.0.0.0"/kVersion = "1.0.0"/'
  'src/module/buffer_protocol.cpp|s/length > size) return CF_BUFFER_TOO_SMALL/length >= size) return CF_BUFFER_TOO_SMALL/'
)

targets=(split test_distribute test_module test_collect test_faultmatrix test_stress)
tests=(test_distribute test_module test_collect test_faultmatrix test_stress)

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPLIT_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null \
  || exit 2
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null || { echo "the unmutated build fails"; exit 2; }

current=""
restore() { if [ -n "$current" ]; then cp "$build/original" "$current"; touch "$current"; current=""; fi; }
trap 'restore; exit 130' INT TERM
trap restore EXIT

# The unmutated tests must pass, or no mutant can be judged.
run_tests() {
  for t in "${tests[@]}"; do
    timeout 300 "$build/tests/$t" --gtest_brief=1 >/dev/null 2>&1 || return 1
  done
}
run_tests || { echo "the unmutated tests fail"; exit 2; }

selected=("$@")
log="$build/mutants.log"
: >"$log"
killed=0 survived=0 stillborn=0
for i in "${!mutants[@]}"; do
  n=$((i + 1))
  if [ ${#selected[@]} -gt 0 ] && [[ ! " ${selected[*]} " == *" $n "* ]]; then continue; fi
  file=${mutants[$i]%%|*}
  expr=${mutants[$i]#*|}
  cp "$file" "$build/original"
  current=$file
  sed -i "$expr" "$file"
  if cmp -s "$file" "$build/original"; then
    echo "mutant $n does not apply: $file $expr" | tee -a "$log"
    restore
    exit 2
  fi
  if ! cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null 2>&1; then
    verdict=stillborn; stillborn=$((stillborn + 1))
  elif run_tests; then
    verdict=SURVIVED; survived=$((survived + 1))
  else
    verdict=killed; killed=$((killed + 1))
  fi
  restore
  echo "$n $verdict $file $expr" | tee -a "$log"
done
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
judged=$((killed + survived))
echo "killed $killed of $judged ($([ $judged -gt 0 ] && echo "$((100 * killed / judged))" || echo 0)%), $stillborn stillborn" | tee -a "$log"
[ "$survived" -eq 0 ]
