// The fault matrix's host: both components, whole executions, one call at a
// time, so that every run of a variant makes the same host calls in the same
// order and a call number names one call.
#include "faultmatrix/matrix_host.h"

#include <limits>
#include <map>
#include <sstream>

#include "refhost/table.h"
#include "refhost/worker.h"

namespace faultmatrix {
namespace {

using refhost::Cell;

// Thread services as this host offers them: the context's own, except that a
// lock whose release was refused is freed all the same, as a host does that
// reports a failed release without keeping the lock. The same component can
// then run again.
class LenientLocks {
public:
    explicit LenientLocks(refhost::Context& context) : context_(context) {
        CFContext* record = context.record();
        real_ = record->getThreadServices;
        registry()[record->handle] = this;
        record->getThreadServices = &Services;
        services_ = CFThreadServices{this, &ThreadCount, nullptr, &CreateLock, &DestroyLock};
    }
    ~LenientLocks() { registry().erase(context_.record()->handle); }

private:
    struct Lock { CFLock record; CFLock* real; LenientLocks* owner; };
    static std::map<void*, LenientLocks*>& registry() {
        static std::map<void*, LenientLocks*> map;
        return map;
    }
    static cf_status Services(void* h, CFThreadServices** out, int* err) {
        LenientLocks* self = registry().at(h);
        cf_status status = self->real_(h, &self->realServices_, err);
        if (status == 0) *out = &self->services_;
        return status;
    }
    static cf_status ThreadCount(void* h, size_t* count, int* err) {
        CFThreadServices* real = static_cast<LenientLocks*>(h)->realServices_;
        return real->getThreadCount(real->handle, count, err);
    }
    static CFLock* CreateLock(void* h, int* err) {
        LenientLocks* self = static_cast<LenientLocks*>(h);
        CFLock* real = self->realServices_->createLock(self->realServices_->handle, err);
        if (real == nullptr) return nullptr;
        self->locks_.push_back(std::make_unique<Lock>());
        Lock& lock = *self->locks_.back();
        lock = Lock{CFLock{&lock, &Take, &Give}, real, self};
        return &lock.record;
    }
    static cf_status DestroyLock(CFLock* record, int* err) {
        Lock* lock = static_cast<Lock*>(record->handle);
        return lock->owner->realServices_->destroyLock(lock->real, err);
    }
    static cf_status Take(void* h, int* err) {
        CFLock* real = static_cast<Lock*>(h)->real;
        return real->lock(real->handle, err);
    }
    static cf_status Give(void* h, int* err) {
        Lock* lock = static_cast<Lock*>(h);
        refhost::Faults& faults = lock->owner->context_.faults();
        const uint64_t before = faults.refused("unlock");
        const cf_status status = lock->real->unlock(lock->real->handle, err);
        if (status != 0 && faults.refused("unlock") > before) {
            int ignored = 0;
            lock->real->unlock(lock->real->handle, &ignored);
        }
        return status;
    }

    refhost::Context& context_;
    cf_status (*real_)(void*, CFThreadServices**, int*) = nullptr;
    CFThreadServices* realServices_ = nullptr;
    CFThreadServices services_{};
    std::vector<std::unique_ptr<Lock>> locks_;
};

const std::vector<refhost::Column> kColumns = {{"region", 3, 3}, {"band", 1, 3}, {"amount", 2, 1}};
// Long enough that the task document and the data model exceed the first
// 8192-byte buffers their readers use.
const std::string kLongRegion(9000, 'w');

// The Keys variant's split fields: one of each storage, measures of each kind.
const std::vector<refhost::Column> kKeyColumns = {{"i", 1, 3}, {"r", 2, 1}, {"s", 3, 3}, {"d", 4, 4},
                                                  {"t", 5, 5}, {"ts", 6, 2}, {"amount", 2, 1}};

refhost::Table KeysInput() {
    refhost::Table table(kKeyColumns);
    const Cell none, zero = Cell::real(0.0), a = Cell::text("a");
    double amount = 0;
    const auto add = [&](Cell i, Cell r, Cell s, Cell d = Cell::real(10), Cell t = Cell::real(20),
                         Cell ts = Cell::real(30)) { table.addRow({i, r, s, d, t, ts, Cell::real(++amount)}); };
    const Cell one = Cell::integer(1), two = Cell::integer(2);
    // -0, a difference under the tolerance and NaN match the group's 0
    add(one, zero, a), add(one, Cell::real(-0.0), a), add(one, Cell::real(5e-16), a);
    add(one, Cell::real(std::numeric_limits<double>::quiet_NaN()), a);
    add(none, Cell::real(-0.0), a), add(none, zero, a);  // a missing integer; a key of -0 takes 0
    add(one, zero, a);  // the first key again, one record (its worker fails)
    add(one, zero, Cell::text(std::string("a\0x", 3))), add(one, zero, Cell::text(std::string("a\0y", 3)));
    add(one, zero, Cell::text("")), add(one, zero, none);  // the empty text, then a missing one
    add(one, none, none, none, none, none), add(one, none, none, none, none, none);
    add(one, none, none, none, none, Cell::real(30.5));  // only the timestamp present
    add(two, zero, a, Cell::real(11)), add(two, zero, a, Cell::real(11), Cell::real(21));  // the date, then the time
    return table;
}

refhost::Table Input(Variant variant) {
    if (variant == Variant::Keys) return KeysInput();
    refhost::Table table(kColumns);
    if (variant == Variant::NoMeasure) table.setMeasure(1, 0);
    if (variant == Variant::Integers) {
        for (int64_t band : {5, 5, 7}) table.addRow({Cell::text("x"), Cell::integer(band), Cell::real(1)});
        return table;
    }
    if (variant == Variant::NoRecords) return table;
    if (variant == Variant::OneGroup) {
        for (double amount : {1.5, 2.5}) table.addRow({Cell::text("x"), Cell::integer(1), Cell::real(amount)});
        return table;
    }
    const std::vector<std::vector<Cell>> rows = {
        {Cell::text("north"), Cell::integer(1), Cell::real(1.5)}, {Cell::text("north"), Cell::integer(1), Cell::real(2.5)},
        {Cell::text("south"), Cell::integer(2), Cell::real(3)}, {Cell::text(kLongRegion), Cell::integer(3), Cell::real(4)},
        {Cell::text(kLongRegion), Cell::integer(3), Cell::real(5)}};
    for (const auto& row : rows) table.addRow(row);
    return table;
}

std::vector<std::string> SplitFields(Variant variant) {
    if (variant == Variant::Integers) return {"band"};
    if (variant == Variant::Keys) return {"i", "r", "s", "d", "t", "ts"};
    return {"region", "band"};
}

// The Keys variant's data models come with field formats, a field group,
// record counts and roles, so that the collected section keeps and extends
// them.
refhost::DataModelOptions ModelOptions(Variant variant) {
    refhost::DataModelOptions options;
    if (variant != Variant::Keys) return options;
    options.recordCounts = true;
    options.fieldFormats = true;
    options.groups = {{"input", "measures", {"amount"}}};
    options.roles = {{"amount", "target"}};
    return options;
}

std::string WorkerStatXML(const std::string& modelId, const std::string& extra = "") {
    return "<StatXML version=\"1.0\"><BuildSettings algorithm=\"tree\"/>" + extra + "<PMMLModel modelID=\"" +
           modelId + "\" modelType=\"TreeModel\" isActive=\"true\"><PredictiveSummary name=\"accuracy\" "
           "value=\"0.9\"/></PMMLModel></StatXML>";
}
std::string WorkerPMML(const std::string& modelId) {
    return "<PMML version=\"4.4\"><Header/><DataDictionary numberOfFields=\"1\"><DataField name=\"amount\" "
           "optype=\"continuous\" dataType=\"double\"/></DataDictionary><TreeModel modelName=\"" + modelId +
           "\" functionName=\"regression\"/></PMML>";
}

class Driver {
public:
    Driver(refhost::Module& module, Variant variant, const std::string& watchOp)
        : module_(module), variant_(variant), watchOp_(watchOp) {
        const refhost::Table input = Input(variant);
        columns_ = input.columns();
        const std::string dataModel = refhost::dataModelXml(input, ModelOptions(variant));
        distributeContext_.setDataModel(dataModel);
        distributeContext_.setInput(input);
        distributeContext_.setParameter("split_fields", SplitFields(variant));
        if (variant == Variant::Keys) {
            // "amount", a target in the data model, is no longer one.
            collectContext_.setParameter("TargetFieldList", {"t"});
            collectContext_.setParameter("InputFieldList", {"d"});
        }
        // Input containers of more than one 1023-byte chunk.
        distributeContext_.container("InputPMML").setDefaultEntry("<PMML>" + std::string(2100, 'p') + "</PMML>");
        distributeContext_.container("InputStatXML").setDefaultEntry("<StatXML/>");
        collectContext_.setDataModel(dataModel);
    }

    RunLog Run() {
        module_.initialise(host_);
        host_.faults().startLog();
        cf_status status = 0;
        int err = 0;
        host_.faults().enterModule();
        distribute_ = refhost::Component::create(module_, distributeContext_, "split_distribute", &status, &err);
        Record("d.create", status, err, distribute_.get());
        collect_ = refhost::Component::create(module_, collectContext_, "split_collect", &status, &err);
        host_.faults().leaveModule();
        Record("c.create", status, err, collect_.get());
        if (!distribute_ || !collect_) return log_;
        Execution(variant_ == Variant::Irregular, true);
        Execution(false, true);
        log_.lastExecution = log_.steps.size();
        Execution(false, variant_ != Variant::Irregular);
        host_.faults().enterModule();
        Record("d.destroy", distribute_->destroy(&err), err, nullptr);
        Record("c.destroy", collect_->destroy(&err), err, nullptr);
        host_.faults().leaveModule();
        Count();
        return log_;
    }

    refhost::Host& host() { return host_; }

private:
    template <class Call>
    cf_status Call_(const char* name, refhost::Component& component, Call call, int err = 0) {
        host_.faults().enterModule();
        const cf_status status = call(&err);
        host_.faults().leaveModule();
        Record(name, status, err, &component);
        return status;
    }
    void Record(const char* name, cf_status status, int err, refhost::Component* component) {
        Step step{name, status, err, {}, host_.faults().calls(watchOp_), host_.faults().takeLog()};
        if (component) step.messages = component->messages();
        log_.steps.push_back(std::move(step));
    }

    void Execution(bool irregular, bool end) {
        refhost::Component& d = *distribute_;
        refhost::Component& c = *collect_;
        output_.clear();
        groups_ = 0;
        const size_t before = distributeContext_.workers().size();
        Call_("d.configure", d, [&](int* e) { return d.configure(e); });
        // The execution that the distribute component does not end is the
        // last: the collect component's end stops at its data model section
        // (a target field the data model lacks) and leaves its containers to
        // the destruction. Only end execution releases a collect execution's
        // documents, so it is always called.
        if (!end) collectContext_.setParameter("TargetFieldList", {"no such field"});
        Call_("c.configure", c, [&](int* e) { return c.configure(e); });
        Call_("d.begin", d, [&](int* e) { return d.beginExecution(e); });
        Call_("c.begin", c, [&](int* e) { return c.beginExecution(e); });
        const std::vector<refhost::Worker*> all = distributeContext_.workers();
        std::vector<refhost::Worker*> workers(all.begin() + static_cast<long>(before), all.end());
        if (irregular) Task(stranger_);  // a worker the component did not plan
        for (size_t i = 0; i < workers.size(); ++i) {
            Serve(*workers[i]);
            if (irregular && i == 0) Task(*workers[i]);  // asks again: gives back its records
        }
        if (irregular) Call_("c.begin", c, [&](int* e) { return c.beginExecution(e); });
        if (end) Call_("d.end", d, [&](int* e) { return d.endExecution(e); });
        Call_("c.end", c, [&](int* e) { return c.endExecution(e); });
        for (const char* name : {"StatXML", "PMML"}) {
            if (!collectContext_.hasContainer(name)) continue;
            for (const refhost::Entry& entry : collectContext_.container(name).entries())
                output_ += std::string(name) + "[" + entry.key + "|" + entry.properties + "]=" + entry.data + "\n";
        }
        log_.lastOutput = output_;
        log_.outputs.push_back(output_);
    }

    cf_status Task(refhost::Worker& worker, std::string* second = nullptr) {
        std::string first, text;
        return Call_("d.task", *distribute_, [&](int* e) {
            return distribute_->getWorkerTask(worker, &first, second ? second : &text, e);
        });
    }

    void Serve(refhost::Worker& worker) {
        refhost::Component& d = *distribute_;
        std::string task;
        if (Task(worker, &task) != 0) return;
        worker.setTask("", task);
        output_ += "task=" + task + "\n";
        CFIterator* iterator = nullptr;
        if (Call_("d.iterator", d, [&](int* e) { return d.getIterator(&worker, 0, &iterator, e); }) == 0) {
            cf_status status = 0;
            for (const auto& row : refhost::readTable(iterator, columns_, &status).rows()) {
                output_ += "record=";
                for (const Cell& cell : row) output_ += cell.toString() + "|";
                output_ += "\n";
            }
        }
        std::string model;
        Call_("d.dataModel", d, [&](int* e) { return d.getDataModel(&worker, 0, &model, e); });
        output_ += "dataModel=" + std::to_string(model.size()) + "\n";
        for (const char* name : {"WorkerInputPMML", "WorkerInputStatXML"}) {
            CFContainerFile* copy = nullptr;
            if (Call_("d.container", d, [&](int* e) { return d.getContainer(&worker, name, &copy, e); }) == 0)
                output_ += std::string(name) + "=" + refhost::Container::fromRecord(copy)->defaultText() + "\n";
        }

        // The worker: the first two groups build a model, the third fails.
        const size_t group = groups_++;
        const std::string id = variant_ == Variant::NoModelIds ? "" : "model-" + std::to_string(group);
        // In the Keys variant the fourth worker's StatXML has a data model of
        // its own, which lists one split field.
        const std::string extra = variant_ == Variant::Keys && group == 3
            ? "<DataModel><Fields count=\"2\"><Field name=\"s\" storage=\"integer\"/><Field name=\"x\"/>"
              "</Fields></DataModel>"
            : "";
        if (group == 1) {
            worker.container("WorkerStatXML").addEntry("out", WorkerStatXML(id, extra));
            worker.container("WorkerPMML").addEntry("out", WorkerPMML(id));
        } else {
            worker.container("WorkerStatXML").setDefaultEntry(WorkerStatXML(id, extra));
            worker.container("WorkerPMML").setDefaultEntry(WorkerPMML(id));
        }
        const int outcome = group == 2 ? 1 : 0;
        Call_("c.completed", *collect_, [&](int* e) {
            return collect_->completedWorkerTask(worker, outcome, e);
        }, outcome);
    }

    // What is left open once both components are gone.
    void Count() {
        Leaks& l = log_.leaks;
        std::vector<refhost::Container*> containers;
        for (refhost::Context* context : {&distributeContext_, &collectContext_}) {
            for (const char* name : {"InputPMML", "InputStatXML", "WorkerInputPMML", "WorkerInputStatXML",
                                     "StatXML", "PMML"})
                for (refhost::Container* c : context->containers(name)) containers.push_back(c);
            const refhost::LockStats locks = context->lockStats();
            l.locks += static_cast<long>(locks.created - locks.destroyed);
            l.heldLocks += static_cast<long>(locks.held);
            l.lockMisuses += static_cast<long>(locks.misuses);
        }
        for (refhost::Worker* worker : distributeContext_.workers())
            for (const char* name : {"WorkerStatXML", "WorkerPMML"})
                if (worker->hasContainer(name)) containers.push_back(&worker->container(name));
        for (refhost::Container* c : containers) {
            l.containers += static_cast<long>(c->openCount()) - static_cast<long>(c->closeCount());
            l.streams += static_cast<long>(c->openStreams());
        }
        l.recordSets = static_cast<long>(distributeContext_.liveRecordSets());
        const refhost::Faults& f = host_.faults();
        l.keyLists = static_cast<long>(f.calls("getKeys") - f.refused("getKeys")) -
                     static_cast<long>(f.calls("releaseKeys") - f.refused("releaseKeys"));
    }

    refhost::Module& module_;
    Variant variant_;
    std::vector<refhost::Column> columns_;
    std::string watchOp_;
    refhost::Host host_;
    refhost::Context distributeContext_{host_};
    refhost::Context collectContext_{host_};
    LenientLocks distributeLocks_{distributeContext_};
    LenientLocks collectLocks_{collectContext_};
    refhost::Worker stranger_{999, host_.sharedFaults()};
    std::unique_ptr<refhost::Component> distribute_;
    std::unique_ptr<refhost::Component> collect_;
    RunLog log_;
    std::string output_;
    size_t groups_ = 0;
};

}  // namespace

std::string Describe(const Leaks& l) {
    std::ostringstream out;
    out << "containers " << l.containers << ", streams " << l.streams << ", record sets " << l.recordSets
        << ", locks " << l.locks << ", key lists " << l.keyLists << ", held locks " << l.heldLocks
        << ", lock misuses " << l.lockMisuses;
    return out.str();
}

RunLog RunMatrixHost(refhost::Module& module, Variant variant, const std::vector<Refusal>& refusals,
                     const std::string& watchOp, std::vector<refhost::CallSite>* sites, std::string* modulePath) {
    Driver driver(module, variant, watchOp);
    refhost::Faults& faults = driver.host().faults();
    for (const Refusal& r : refusals) faults.refuse(r.op, r.nth, kRefused, kHostErr);
    if (sites) faults.startRecording("libsplit.so");
    RunLog log = driver.Run();
    if (sites) {
        faults.stopRecording();
        *sites = faults.sites();
        if (modulePath) *modulePath = faults.modulePath();
    }
    return log;
}

}  // namespace faultmatrix
