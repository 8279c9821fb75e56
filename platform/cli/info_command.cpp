// split-run info: load the module, create both components, show who it is.
#include <pugixml.hpp>

#include <refhost/component.h>
#include <refhost/context.h>
#include <refhost/host.h>
#include <refhost/module.h>

#include "commands.h"
#include "errors.h"

namespace splitrun {

int runInfo(std::ostream& out)
{
    refhost::Module module;
    refhost::Host host(refhost::Faults::Mode::Off);  // a production run injects no faults
    if (module.initialise(host) != 0) throw RunError("the module refused to initialise");
    refhost::Context distributeContext(host);
    refhost::Context collectContext(host);
    refhost::Component distribute(module, distributeContext, "split_distribute");
    refhost::Component collect(module, collectContext, "split_collect");

    cf_status status = 0;
    const std::string text = module.moduleInformation(&status);
    pugi::xml_document doc;
    pugi::xml_node info;
    if (status == 0 && doc.load_string(text.c_str()))
        info = doc.child("ModuleInformation").child("Module");
    if (!info) throw RunError("the module gave no usable module information (status " +
                              std::to_string(status) + ")");
    out << "module:     " << module.path() << "\n"
        << "name:       " << info.attribute("name").value() << "\n"
        << "provider:   " << info.attribute("provider").value() << "\n"
        << "version:    " << info.attribute("version").value() << "\n"
        << "copyright:  " << info.attribute("copyright").value() << "\n"
        << "components: split_distribute, split_collect (created and destroyed)\n";

    const cf_status destroyedCollect = collect.destroy();
    const cf_status destroyedDistribute = distribute.destroy();
    if (destroyedCollect != 0 || destroyedDistribute != 0)
        throw RunError("destroying the components failed");
    return kExitModelsBuilt;
}

}  // namespace splitrun
