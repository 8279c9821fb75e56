// The fault matrix's host: both components, whole executions, one call at a
// time, so that every run of a variant makes the same host calls in the same
// order and a call number names one call.
#include "faultmatrix/matrix_host.h"

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

refhost::Table Input(Variant variant) {
    refhost::Table table(kColumns);
    if (variant == Variant::NoMeasure) table.setMeasure(1, 0);
    if (variant == Variant::Integers) {
        for (int64_t band : {5, 5, 7}) table.addRow({Cell::text("x"), Cell::integer(band), Cell::real(1)});
        return table;
    }
    const std::vector<std::vector<Cell>> rows = {
        {Cell::text("north"), Cell::integer(1), Cell::real(1.5)},
        {Cell::text("north"), Cell::integer(1), Cell::real(2.5)},
        {Cell::text("south"), Cell::integer(2), Cell::real(3)},
        {Cell::text(kLongRegion), Cell::integer(3), Cell::real(4)},
        {Cell::text(kLongRegion), Cell::integer(3), Cell::real(5)}};
    for (const auto& row : rows) table.addRow(row);
    return table;
}

std::string WorkerStatXML(const std::string& modelId) {
    return "<StatXML version=\"1.0\"><BuildSettings algorithm=\"tree\"/><PMMLModel modelID=\"" + modelId +
           "\" modelType=\"TreeModel\" isActive=\"true\"><PredictiveSummary name=\"accuracy\" value=\"0.9\"/>"
           "</PMMLModel></StatXML>";
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
        distributeContext_.setDataModel(refhost::dataModelXml(input));
        distributeContext_.setInput(input);
        if (variant == Variant::Integers)
            distributeContext_.setParameter("split_fields", {"band"});
        else
            distributeContext_.setParameter("split_fields", {"region", "band"});
        // Input containers of more than one 1023-byte chunk.
        distributeContext_.container("InputPMML").setDefaultEntry("<PMML>" + std::string(2100, 'p') + "</PMML>");
        distributeContext_.container("InputStatXML").setDefaultEntry("<StatXML/>");
        collectContext_.setDataModel(refhost::dataModelXml(input));
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
            for (const auto& row : refhost::readTable(iterator, kColumns, &status).rows()) {
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
        if (group == 1) {
            worker.container("WorkerStatXML").addEntry("out", WorkerStatXML(id));
            worker.container("WorkerPMML").addEntry("out", WorkerPMML(id));
        } else {
            worker.container("WorkerStatXML").setDefaultEntry(WorkerStatXML(id));
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
                     const std::string& watchOp, std::vector<refhost::CallSite>* sites,
                     std::string* modulePath) {
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
