// The host itself: its CFHost record, its fault injection and its message
// catalogue.
#ifndef REFHOST_HOST_H
#define REFHOST_HOST_H

#include <memory>
#include <string>
#include <vector>

#include "cf_records.h"
#include "refhost/faults.h"

namespace refhost {

// One user message of a component, as cf_component_getMessages delivers it.
struct Message {
    int type = 0;  // 1 information, 2 warning, 3 error
    int code = 0;
    std::vector<std::string> args;
    bool operator==(const Message&) const = default;
};

class Host {
public:
    // A host for production runs passes Faults::Mode::Off: its host calls
    // then skip the call counting that fault injection needs.
    explicit Host(Faults::Mode faults = Faults::Mode::On);
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    CFHost* record() { return &record_; }
    static Host* fromRecord(CFHost* record);
    // Shared by every context made without a Faults of its own.
    Faults& faults() { return *faults_; }
    const std::shared_ptr<Faults>& sharedFaults() const { return faults_; }
    // The text getHostVersion hands out.
    static const char* version();

    // The catalogue text of a message code with %1, %2 ... replaced by the
    // arguments; an unknown code gives "Message <code>" followed by its
    // arguments.
    static std::string messageText(int code, const std::vector<std::string>& args = {});
    // The same for a message key (such as "kSPLIT_SplitFailedErr_0"); an
    // unknown key gives the key itself.
    static std::string messageText(const std::string& key,
                                   const std::vector<std::string>& args = {});
    // "Error 280004: Split field 'x' is not ..." (Warning / Information for
    // types 2 and 1).
    static std::string describe(const Message& message);

    cf_status getHostVersion(char* buffer, size_t size, size_t* needed, int* err);

private:
    CFHost record_;
    std::shared_ptr<Faults> faults_;
};

// Delivers text by the buffer protocol: *needed = length + 1 always; the
// text and its terminator are copied only when they fit, else status 13.
cf_status deliverText(const std::string& text, char* buffer, size_t size, size_t* needed);

}  // namespace refhost

#endif
